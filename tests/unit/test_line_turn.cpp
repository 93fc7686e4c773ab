// One exchange at a time on a line: turns in the order asked, handed on when
// the holder ends by an error, and through a port that has closed; a wait
// for the turn that gives up at its bound; identical queued reads sharing
// one exchange, commands never; a probe's try at settings of its own.
#include "RunTask.h"
#include "common/AutomationError.h"
#include "drivers/LineExchange.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"

#include <QCoro/QCoroTimer>
#include <gtest/gtest.h>

using namespace quorvex;
using namespace std::chrono_literals;

namespace {

QUORVEX_DRIVER(LeggiPeso_BILANCIAI_D400);
QUORVEX_DRIVER(LeggiPeso_COMAR_PROFACE);
QUORVEX_DRIVER(AzzeraLunghezza_COMAR_PROFACE);

// Holds the line for a while, noting when it got it and let it go.
QCoro::Task<> holdLine(LineTurn &turn, std::vector<int> &log, int id, bool fail = false)
{
    const LineTurn::Holder line = co_await turn.take();
    log.push_back(id);
    co_await QCoro::sleepFor(5ms);
    if (fail)
        throw AutomationError::typeMismatch();
    log.push_back(-id);
}

QCoro::Task<> all(std::vector<QCoro::Task<>> tasks)
{
    for (auto &task : tasks) {
        try {
            co_await task;
        } catch (const AutomationError &) {}
    }
}

TEST(LineTurn, TurnsInOrderNeverOverlapAndAnErrorHandsTheLineOn)
{
    LineTurn turn;
    std::vector<int> log;
    std::vector<QCoro::Task<>> tasks;
    for (int id = 1; id <= 5; ++id)
        tasks.push_back(holdLine(turn, log, id, id == 2));
    runTask(all(std::move(tasks)));
    EXPECT_EQ(log, (std::vector<int>{1, -1, 2, 3, -3, 4, -4, 5, -5}));
    EXPECT_FALSE(turn.busy());

    // A later caller is not overtaken by callers that keep coming.
    log.clear();
    std::vector<QCoro::Task<>> more;
    more.push_back(holdLine(turn, log, 1));
    more.push_back(holdLine(turn, log, 2));
    more.push_back(holdLine(turn, log, 1));
    runTask(all(std::move(more)));
    EXPECT_EQ(log, (std::vector<int>{1, -1, 2, -2, 1, -1}));
}

TEST(LineTurn, ExchangesWaitingOnAPortThatClosesFailInsteadOfHanging)
{
    auto port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    // The scale answers only the first request, late; meanwhile the device
    // goes away for good.
    port->onWrite = [&](const QByteArray &) {};
    QTimer::singleShot(50, port.get(), [&] {
        port->present = false;
        port->fail();
    });
    int failed = 0;
    auto read = [&]() -> QCoro::Task<> {
        try {
            co_await LeggiPeso_BILANCIAI_D400(port);
        } catch (const AutomationError &error) {
            EXPECT_EQ(error.kind(), ErrorKind::PortError);
            ++failed;
        }
    };
    std::vector<QCoro::Task<>> waiting;
    for (int i = 0; i < 3; ++i)
        waiting.push_back(read());
    runTask(all(std::move(waiting)));
    EXPECT_EQ(failed, 3);
    EXPECT_EQ(port->written(), "XB\r") << "only the holder wrote before the port went";
}

TEST(LineTurn, AWaitPastItsBoundLeavesTheQueueWithoutTheLineAndOthersKeepTheirPlace)
{
    LineTurn turn;
    std::vector<int> log;
    auto hold = [&]() -> QCoro::Task<> {
        const LineTurn::Holder line = co_await turn.take();
        co_await QCoro::sleepFor(200ms);
        log.push_back(1);
    };
    auto bounded = [&](int id, std::chrono::milliseconds within) -> QCoro::Task<> {
        const LineTurn::Holder line = co_await turn.take(within);
        log.push_back(line ? id : -id);
    };
    std::vector<QCoro::Task<>> tasks;
    tasks.push_back(hold());
    tasks.push_back(bounded(2, 50ms));
    tasks.push_back(bounded(3, 2000ms));
    runTask(all(std::move(tasks)));
    EXPECT_EQ(log, (std::vector<int>{-2, 1, 3}));
    EXPECT_FALSE(turn.busy());
}

TEST(SharedReads, IdenticalQueuedReadsShareOneExchangeAndCommandsNeverDo)
{
    auto port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    int requests = 0;
    port->onWrite = [&](const QByteArray &bytes) {
        ++requests;
        if (bytes == "XB\r")
            port->feedLater("   12,500 kg  \r", 50);
        else // the PROFACE: a 9-byte reading, a 10-byte answer to the zero
            port->feedLater(QByteArray(bytes == "@3\r" ? 10 : 9, '\0'), 50);
    };
    std::vector<double> weights;
    auto read = [&](const quorvex::testing::Driver &driver) -> QCoro::Task<> {
        weights.push_back((co_await driver(port)).toDouble());
    };
    auto zero = [&]() -> QCoro::Task<> { co_await AzzeraLunghezza_COMAR_PROFACE(port); };

    std::vector<QCoro::Task<>> tasks;
    for (int i = 0; i < 6; ++i)
        tasks.push_back(read(LeggiPeso_BILANCIAI_D400));
    tasks.push_back(zero());
    tasks.push_back(zero());
    tasks.push_back(read(LeggiPeso_COMAR_PROFACE)); // another row: not the D400's exchange
    runTask(all(std::move(tasks)));
    // The first read had the line at once; the five behind it shared one.
    EXPECT_EQ(port->written(), QByteArray("XB\rXB\r@3\r@3\r@2\r"));
    ASSERT_EQ(weights.size(), 7u);
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(weights[size_t(i)], 12.5) << "read " << i;
}

// A probe's try holds the turn like any exchange, and leaves the port as it
// found it: its own settings back, nothing of the probe's in the input, and
// its silence not counted against the instrument configured there.
TEST(ProbeTry, RunsAtItsOwnSettingsAndLeavesThePortAsItWas)
{
    auto port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    port->setSettings(QStringLiteral("9600,N,8,1"));
    bool queuedBehind = false;
    auto probe = [&]() -> QCoro::Task<> {
        LineExchange line(*port, 100ms, 20ms);
        EXPECT_TRUE(co_await line.begin());
        EXPECT_FALSE(line.useSettings(QStringLiteral("fast")));
        EXPECT_TRUE(line.useSettings(QStringLiteral("19200,E,7,1")));
        EXPECT_EQ(port->Settings(), QStringLiteral("19200,E,7,1"));
        line.send("?");
        EXPECT_FALSE(co_await line.waitFor(1));
        port->feed("late");
    };
    auto next = [&]() -> QCoro::Task<> {
        const LineTurn::Holder turn = co_await port->turn().take();
        queuedBehind = port->Settings() == QLatin1String("9600,N,8,1") && port->InBufferCount() == 0;
    };
    std::vector<QCoro::Task<>> tasks;
    tasks.push_back(probe());
    tasks.push_back(next());
    runTask(all(std::move(tasks)));
    EXPECT_TRUE(queuedBehind) << "the next exchange found the probe's settings or bytes";
    EXPECT_EQ(port->health().silentExchanges, 0);
    EXPECT_TRUE(port->health().lastError.isEmpty());
}

} // namespace
