// The generic operations and the dispatch to drivers by brand and model,
// against in-memory ports that answer like the scale would.
#include "api/DbusBinding.h"
#include "api/Global.h"
#include "api/History.h"
#include "api/Interfaces.h"
#include "common/AutomationError.h"
#include "drivers/Exchanges.h"
#include "drivers/LineExchange.h"
#include "drivers/PolledExchanges.h"
#include "history/CoilStore.h"
#include "line/SettingsStore.h"
#include "support/MemoryPort.h"

#include "RunTask.h"
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quorvex;
using namespace std::chrono_literals;

namespace {

class Dispatch : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::shared_ptr<MemoryPort> port;
    Line server{[this](const QString &) {
        auto p = std::make_shared<MemoryPort>();
        port = p; // the last made: port object 1 once the scale is loaded
        return p;
    }};

    Dispatch()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QLocale::setDefault(QLocale(QLocale::English));
    }

    // The scale role on port object 1, answering every request with reply.
    void scale(const char *brand, const char *model, const char *divisore, const QByteArray &reply)
    {
        SettingsStore store;
        store.setValue("Bilancia", "Marca", QLatin1String(brand));
        store.setValue("Bilancia", "Modello", QLatin1String(model));
        store.setValue("Bilancia", "Divisore", QLatin1String(divisore));
        store.setValue("Bilancia", "Porta", "1");
        server.CaricaDispositivi();
        port->onWrite = [this, reply](const QByteArray &) { port->feedLater(reply, 1); };
    }
};

// A generic operation run as a call runs it, by its row.
QVariant run(Global &global, const char *operation, CallArgs args = {})
{
    return runTask(global.call(*findOperation(QLatin1String(operation)), std::move(args)));
}

TEST_F(Dispatch, DriverFoundByNameWithoutCaseAndScaledByDivisore)
{
    Global global(server);
    scale("bilanciai", "d400", "0.001", "     1500 kg  \r");
    EXPECT_DOUBLE_EQ(run(global, "LeggiPeso").toDouble(), 1.5);
    EXPECT_EQ(port->written(), "XB\r");

    scale("BILANCIAI", "D400", "0", "     1500 kg  \r");
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 0);
    scale("BILANCIAI", "D400", "1", "     1500 kg  \r");
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 1500);
    EXPECT_EQ(run(global, "LeggiTara").toDouble(), 1500);
}

TEST_F(Dispatch, NoDriverOrAFailingDriverGivesZeroWithoutTouchingThePort)
{
    Global global(server);
    scale("BILANCIAI ", "D400", "1", "     1500 kg  \r");
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 0);
    scale("", "", "1", "     1500 kg  \r");
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 0);
    scale("EUROBIL", "BC100M", "1", "  12.50\r");
    EXPECT_EQ(run(global, "LeggiTara").toDouble(), 0);
    EXPECT_TRUE(port->written().isEmpty());

    // The driver ends with an error: the generic operation gives 0.
    scale("BILANCIAI", "D400", "1", "  ab,cdef kg  \r");
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 0);
    // A closed port: the same.
    port->setPortOpen(false);
    EXPECT_EQ(run(global, "LeggiPeso").toDouble(), 0);
}

TEST_F(Dispatch, ServiceOperationsAndMissingRoles)
{
    Global global(server);
    EXPECT_THROW(run(global, "LeggiPeso"), AutomationError) << "nothing loaded yet";
    server.CaricaDispositivi();
    EXPECT_EQ(run(global, "ScriviServizio", {{}, {}, QStringLiteral("1")}).toString(), QString());
    EXPECT_EQ(global.LeggiServizio("anything"), QString());
    EXPECT_EQ(global.ImpostaServizio("anything"), QString());
}

TEST_F(Dispatch, DriverCalledDirectlyReportsItsError)
{
    Global global(server);
    scale("BILANCIAI", "D400", "1", "  ab,cdef kg  \r");
    const Operation *op = findOperation(QStringLiteral("LeggiPeso_BILANCIAI_D400"));
    ASSERT_NE(op, nullptr);
    try {
        runTask(global.call(*op, CallArgs{{}, ResolvedPort(port, false), {}}));
        FAIL() << "a field with letters must fail";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), 13);
    }
}

// A new model of an existing family is one row: here a made-up polled scale
// that answers "?W" with the weight in characters 3 to 8.
TEST(InstrumentTable, ARowWrittenHereRunsLikeTheTablesOwn)
{
    const Recipe madeUp{.operation = "LeggiPeso",
                        .brand = "TEST",
                        .model = "W1",
                        .exchange = &exchanges::request,
                        .request = "?W\r",
                        .replyLength = 10,
                        .fieldStart = 3,
                        .fieldLength = 6,
                        .decimalMark = ',',
                        .parse = parseFixedField};
    auto port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    port->onWrite = [&](const QByteArray &) { port->feedLater("W= 12,75\r\n", 1); };
    EXPECT_DOUBLE_EQ(runTask(runExchange(madeUp, port)).toDouble(), 12.75);
    EXPECT_EQ(port->written(), "?W\r");
}

TEST(InstanceCount, EachGlobalCountsAndTheLastOneUnloadsThePorts)
{
    Line server([](const QString &) { return std::make_shared<MemoryPort>(); });
    server.loadPortHost();
    {
        Global a(server);
        Global b(server);
        EXPECT_EQ(server.NumeroIstanze(), 2);
    }
    EXPECT_EQ(server.NumeroIstanze(), 0);
    EXPECT_EQ(server.portHost(), nullptr);
}

TEST(Wait, SucceedsOnArrivalAndTimesOutStrictlyAfterTheLimitWithoutSpinning)
{
    MemoryPort port;
    port.setPortOpen(true);
    port.feedLater("abcde", 50);
    EXPECT_TRUE(runTask(waitForBytes(port, 5, 2000ms)));

    // Already there: no wait at all, even with a zero time-out.
    EXPECT_TRUE(runTask(waitForBytes(port, 5, 0ms)));

    port.setInBufferCount(0);
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuBefore = std::clock();
    EXPECT_FALSE(runTask(waitForBytes(port, 1, 300ms)));
    EXPECT_GT(clock.nsecsElapsed(), 300000000);
    // A spinning wait would use about 300 ms of CPU here.
    EXPECT_LT(double(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.15);
}

TEST(Wait, PortClosingDuringTheWaitEndsItWithThePortError)
{
    MemoryPort port;
    port.setPortOpen(true);
    QTimer::singleShot(30, &port, [&] { port.fail(); });
    EXPECT_THROW(runTask(waitForBytes(port, 1, 5000ms)), AutomationError);
}

TEST(Interface, OperationTableComesWholeFromTheInterfaceFile)
{
    ASSERT_EQ(operations().size(), 35u);
    int slot = 0;
    for (const Operation &op : operations()) {
        EXPECT_EQ(op.slot, ++slot);
        EXPECT_TRUE(op.driver() || op.generic || op.roleOperation) << op.name.toStdString() << " runs nothing";
        EXPECT_EQ(op.takesPort(), op.driver()) << op.name.toStdString() << ": the client would call it otherwise";
    }
    // Optional parameters and their defaults.
    const Operation *force = findOperation(QStringLiteral("LeggiLunghezza"));
    ASSERT_EQ(force->params.size(), 1u);
    EXPECT_TRUE(force->params[0].optional);
    EXPECT_FALSE(force->params[0].defaultValue);
    EXPECT_TRUE(findOperation(0x6003000b)->params.at(0).defaultValue) << "ShowSampler shows by default";
    EXPECT_EQ(findOperation(QStringLiteral("ScriviServizio_CTM_MELSEC"))->requiredCount(), 2);
    EXPECT_TRUE(interfaceXml().contains("VELKARO - Comunicazione con dispositivi seriali"));
}

// What introspection serves is each file's <interface> element, byte for
// byte, as the tables generated from the files carry it.
TEST(Interface, IntrospectionServesTheFilesElements)
{
    ASSERT_EQ(interfaces().size(), 3u);
    for (const Interface &interface : interfaces()) {
        QFile file(QStringLiteral(QUORVEX_SOURCE_DIR "/data/%1.xml").arg(interface.name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << interface.name.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        const qsizetype begin = text.indexOf(QLatin1String("<interface"));
        const qsizetype end = text.lastIndexOf(QLatin1String("</interface>")) + 12;
        EXPECT_EQ(interface.element, text.mid(begin, end - begin) + QLatin1Char('\n')) << interface.name.toStdString();
    }
    EXPECT_EQ(interfaceXml(), interfaces().front().element);
}

TEST(Interface, EveryMethodOfTheInterfaceFilesHasAHandler)
{
    QTemporaryDir dir;
    Line line([](const QString &) { return std::make_shared<MemoryPort>(); });
    CoilStore store(dir.filePath(QStringLiteral("coils.db")));
    const QDBusConnection none(QStringLiteral("none"));
    DbusBinding binding(line, none);
    History history(store, none, {});
    binding.setHistory(&history);
    EXPECT_EQ(binding.dispatch().unserved(), QStringList());
}

} // namespace
