// One exchange at a time on a line: turns in the order asked, handed on when
// the holder ends by an error, and through a port that has closed.
#include "RunTask.h"
#include "common/AutomationError.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"

#include <QCoro/QCoroTimer>
#include <gtest/gtest.h>

using namespace quorvex;
using namespace std::chrono_literals;

namespace {

QUORVEX_DRIVER(LeggiPeso_BILANCIAI_D400);

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
        } catch (const AutomationError &) {
        }
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

} // namespace
