// Many clients sharing one line: one exchange at a time on each port, in the
// order the calls came; ports side by side; no crash and no wrong number
// under load; a silent instrument that holds no client past its time-out,
// with its line's health told once each way; identical reads sharing an
// exchange, zero commands never; one-shot clients through activation; an
// orderly stop.
#include "tests/e2e/Harness.h"

#include "sim/instruments/BC100M.h"
#include "sim/instruments/D400.h"
#include "sim/instruments/Proface.h"
#include "sim/instruments/Ps11.h"

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

bool allFinished(const std::vector<QDBusPendingCall> &calls)
{
    return std::all_of(calls.begin(), calls.end(), [](const QDBusPendingCall &c) { return c.isFinished(); });
}

int scaledCount(const char *variable, int count)
{
    bool ok = false;
    const int given = qEnvironmentVariableIntValue(variable, &ok);
    return ok && given > 0 ? given : count;
}

// A CTM line on one serial port: the PS11 weight stream (DC1 starts it, DC3
// stops it) and the CTM counter, which answers "P" CR with its count.
class CtmLine : public sim::Ps11 {
public:
    static constexpr const char *kCount = "01234";

protected:
    void onReceived(std::string_view bytes) override
    {
        sim::Ps11::onReceived(bytes);
        for (char c : bytes) {
            m_tail = std::string(1, m_last) + c;
            m_last = c;
            if (m_tail == "P\r") {
                char check = 0;
                for (const char *d = kCount; *d; ++d)
                    check = char(check ^ *d);
                reply(std::string("\x02") + kCount + check + "\r");
            }
        }
    }

private:
    std::string m_tail;
    char m_last = 0;
};

class Sharing : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();

    void SetUp() override
    {
        scale->setWeightField("   12,500");
        mapPort(3, scale->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
    }

    std::vector<QDBusConnection> clients(int n, const QString &prefix)
    {
        std::vector<QDBusConnection> out;
        for (int i = 0; i < n; ++i)
            out.push_back(QDBusConnection::connectToBus(QDBusConnection::SessionBus, prefix + QString::number(i)));
        return out;
    }
};

TEST_F(Sharing, CallsOnOnePortNeverOverlapWhileAnotherPortRunsAlongside)
{
    scale->setReplyDelay(300ms);
    sim::Handle<sim::D400> other = sim::launch<sim::D400>();
    other->setWeightField("    7,000");
    other->setReplyDelay(300ms);
    mapPort(4, other->slavePath());
    configureRole("Servizio", QString(), QString(), 4); // gives the server a port 4
    startServer();

    auto connections = clients(9, QStringLiteral("turn"));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QDBusPendingCallWatcher>> calls;
    std::vector<qint64> finished(9, -1);
    // Waited for in an event loop of its own, which takes each reply as it
    // comes: a poll that sleeps between its rounds would stamp the replies
    // of one shared exchange a round apart.
    QEventLoop loop;
    const auto allFinished = [&] { return std::count(finished.begin(), finished.end(), -1) == 0; };
    const auto stamp = [&](int i) {
        finished[i] = clock.elapsed();
        if (allFinished())
            loop.quit();
    };
    for (int i = 0; i < 8; ++i) {
        calls.push_back(std::make_unique<QDBusPendingCallWatcher>(asyncCall(connections[i], "LeggiPeso")));
        QObject::connect(calls.back().get(), &QDBusPendingCallWatcher::finished, [&, i] { stamp(i); });
        waitUntil([] { return false; }, 15); // a definite order of arrival
    }
    calls.push_back(std::make_unique<QDBusPendingCallWatcher>(
        asyncCall(connections[8], "LeggiPeso_BILANCIAI_D400", {QStringLiteral("4")})));
    QObject::connect(calls.back().get(), &QDBusPendingCallWatcher::finished, [&] { stamp(8); });

    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!allFinished())
        loop.exec();
    ASSERT_TRUE(allFinished());
    for (int i = 0; i < 8; ++i) {
        const QDBusMessage reply = calls[i]->reply();
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_DOUBLE_EQ(reply.arguments().value(0).toDouble(), 12.5) << "client " << i;
        // The first has the line at once; those queued behind it share one
        // exchange, so they end together, after it. Together is within a few
        // milliseconds (a clock tick, the replies taken one by one); exchanges
        // that overlapped would end about as far apart as the calls came, 15 ms.
        if (i > 0) {
            EXPECT_GE(finished[i], finished[i - 1]) << "client " << i << " overtook the one before";
            if (finished[i] - finished[i - 1] > 5) {
                EXPECT_GE(finished[i] - finished[i - 1], 200) << "two exchanges overlapped on one line";
            }
        }
    }
    EXPECT_DOUBLE_EQ(calls[8]->reply().arguments().value(0).toDouble(), 7.0);
    EXPECT_LT(finished[8], 1500) << "the other port waited for the first port's queue";
    EXPECT_GE(finished[7], 2 * 300) << "the queued reads did not wait for the first exchange";
}

TEST_F(Sharing, ASilentScaleHoldsNoClientPastTwoTimeOutsAndItsHealthIsToldOnceEachWay)
{
    scale->setSilent(true);
    sim::Handle<sim::D400> other = sim::launch<sim::D400>();
    other->setWeightField("    7,000");
    mapPort(4, other->slavePath());
    configureRole("Servizio", QString(), QString(), 4);
    captureLog = true;
    startServer();

    auto connections = clients(9, QStringLiteral("silent"));
    QElapsedTimer clock;
    clock.start();
    std::vector<QDBusPendingCall> calls;
    for (int i = 0; i < 8; ++i)
        calls.push_back(asyncCall(connections[size_t(i)], "LeggiPeso"));
    QDBusPendingCallWatcher elsewhere(asyncCall(connections[8], "LeggiPeso_BILANCIAI_D400", {QStringLiteral("4")}));
    qint64 elsewhereMs = -1;
    QObject::connect(&elsewhere, &QDBusPendingCallWatcher::finished, [&] { elsewhereMs = clock.elapsed(); });
    ASSERT_TRUE(waitUntil([&] { return allFinished(calls); }, 20000));
    const qint64 lastMs = clock.elapsed();
    for (const QDBusPendingCall &call : calls) {
        ASSERT_EQ(call.reply().type(), QDBusMessage::ReplyMessage) << call.reply().errorMessage().toStdString();
        EXPECT_EQ(call.reply().arguments().value(0).toDouble(), 0.0);
    }
    // Two time-outs of 2 s and a wide margin for a loaded machine; the
    // sum of the time-outs would be 16 s.
    EXPECT_LT(lastMs, 7000) << "a waiting client was held past its time-out";
    ASSERT_TRUE(waitUntil([&] { return elsewhere.isFinished(); }));
    EXPECT_DOUBLE_EQ(elsewhere.reply().arguments().value(0).toDouble(), 7.0);
    EXPECT_LT(elsewhereMs, 1500) << "the other port waited for the silent one";

    const QVariantMap silent = portInfo(3);
    EXPECT_GE(silent.value("silentExchanges").toInt(), 1);
    EXPECT_EQ(silent.value("lastExchangeError").toString(), QStringLiteral("no answer within 2000 ms"));
    EXPECT_EQ(callDouble("LeggiPeso"), 0.0);

    scale->setSilent(false);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5);
    const QVariantMap answering = portInfo(3);
    EXPECT_EQ(answering.value("silentExchanges").toInt(), 0);
    EXPECT_GT(answering.value("lastReply").toLongLong(), 0);

    waitUntil([this] { return serverLog().contains(QStringLiteral("answers again")); }, 5000);
    const QString log = serverLog();
    EXPECT_EQ(log.count(QStringLiteral("stopped answering")), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Bilancia on port 3"))) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("answers again")), 1) << log.toStdString();
}

TEST_F(Sharing, IdenticalReadsShareAnExchangeAndZeroCommandsNeverDo)
{
    scale->setReplyDelay(300ms);
    sim::Handle<sim::Proface> counter = sim::launch<sim::Proface>();
    counter->setReplyDelay(100ms);
    mapPort(5, counter->slavePath());
    configureRole("Contametri", "COMAR", "PROFACE", 5);
    startServer();

    auto connections = clients(8, QStringLiteral("same"));
    std::vector<QDBusPendingCall> reads;
    for (auto &connection : connections)
        reads.push_back(asyncCall(connection, "LeggiPeso"));
    std::vector<QDBusPendingCall> counts;
    counts.push_back(asyncCall(connections[0], "LeggiLunghezza", {true}));
    counts.push_back(asyncCall(connections[1], "AzzeraLunghezza"));
    counts.push_back(asyncCall(connections[2], "AzzeraLunghezza"));
    ASSERT_TRUE(waitUntil([&] { return allFinished(reads) && allFinished(counts); }, 20000));
    for (const QDBusPendingCall &call : reads)
        EXPECT_DOUBLE_EQ(call.reply().arguments().value(0).toDouble(), 12.5);
    const qulonglong requests = portInfo(3).value("bytesOut").toULongLong() / 3; // "XB" CR
    EXPECT_LT(requests, 8u) << "identical reads did not share";
    EXPECT_GE(requests, 1u);
    EXPECT_EQ(counter->zeroCommands(), 2) << "a zero command was merged";
}

TEST_F(Sharing, AWeightStreamAndACounterOnOneLineAreBothReadRight)
{
    sim::Handle<CtmLine> line = sim::launch<CtmLine>();
    line->setWeight(777);
    mapPort(5, line->slavePath());
    configureRole("Bilancia", "CTM", "PS11", 5);
    configureRole("Contametri", "CTM", "1", 5);
    startServer();
    QDBusConnection weigher = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "weigher");
    QDBusConnection counter = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "counter");
    std::vector<QDBusPendingCall> weights, lengths;
    for (int i = 0; i < 10; ++i) {
        weights.push_back(asyncCall(weigher, "LeggiPeso"));
        lengths.push_back(asyncCall(counter, "LeggiLunghezza", {true}));
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(lengths.begin(), lengths.end(), [](const QDBusPendingCall &c) { return c.isFinished(); })
                && std::all_of(weights.begin(), weights.end(),
                               [](const QDBusPendingCall &c) { return c.isFinished(); });
        },
        60000));
    for (int i = 0; i < 10; ++i) {
        EXPECT_DOUBLE_EQ(weights[i].reply().arguments().value(0).toDouble(), 777) << "weight " << i;
        EXPECT_DOUBLE_EQ(lengths[i].reply().arguments().value(0).toDouble(), 1234) << "length " << i;
    }
}

TEST_F(Sharing, APortThatVanishesWhileClientsWaitTheirTurnAnswersThemAll)
{
    scale->setReplyDelay(1500ms);
    startServer();
    auto connections = clients(3, QStringLiteral("vanish"));
    std::vector<QDBusPendingCall> calls;
    for (auto &connection : connections)
        calls.push_back(asyncCall(connection, "LeggiPeso", {}, 20000));
    waitUntil([] { return false; }, 300); // one holds the line, two wait their turn
    scale->stop(); // the device goes away
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(calls.begin(), calls.end(), [](const QDBusPendingCall &c) { return c.isFinished(); });
        },
        10000))
        << "a waiting client hangs";
    for (const QDBusPendingCall &call : calls) {
        ASSERT_EQ(call.reply().type(), QDBusMessage::ReplyMessage) << call.reply().errorMessage().toStdString();
        EXPECT_EQ(call.reply().arguments().value(0).toDouble(), 0.0);
    }
    EXPECT_EQ(call("LeggiPeso").type(), QDBusMessage::ReplyMessage) << "the server no longer serves";
}

TEST_F(Sharing, FiveHundredCallsFromFiftyConnectionsAllAnsweredRight)
{
    scale->setPacing(9600);
    startServer();
    const int perClient = scaledCount("E2E_LOAD_CALLS_PER_CLIENT", 10);
    auto connections = clients(50, QStringLiteral("load"));
    std::vector<QDBusPendingCall> calls;
    for (int round = 0; round < perClient; ++round) {
        for (auto &connection : connections)
            calls.push_back(asyncCall(connection, "LeggiPeso", {}, 120000));
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(calls.begin(), calls.end(), [](const QDBusPendingCall &c) { return c.isFinished(); });
        },
        150000));
    int weights = 0;
    for (const QDBusPendingCall &call : calls) {
        const QDBusMessage reply = call.reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            // Only the client's own time-out may end a call that queued too long.
            EXPECT_EQ(reply.errorName().toStdString(), "org.freedesktop.DBus.Error.NoReply");
            continue;
        }
        EXPECT_DOUBLE_EQ(reply.arguments().value(0).toDouble(), 12.5) << "a wrong number reported as good";
        ++weights;
    }
    EXPECT_GT(weights, 0);
    EXPECT_TRUE(serverRunning());
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5) << "the server no longer serves";
}

TEST_F(Sharing, OneShotClientsThroughActivationAllGetTheWeight)
{
    ASSERT_TRUE(setActivationEnvironment());

    const QString client = clientPath();
    const int count = scaledCount("E2E_ONE_SHOT_CALLS", 200);
    int good = 0;
    for (int i = 0; i < count; ++i) {
        QProcess process;
        process.start(client, {QStringLiteral("LeggiPeso")});
        ASSERT_TRUE(process.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        if (process.exitCode() == 0 && out == QLatin1String("12.5"))
            ++good;
        else
            ADD_FAILURE() << "call " << i << ": " << out.toStdString() << " "
                          << process.readAllStandardError().toStdString();
    }
    EXPECT_EQ(good, count);
    EXPECT_TRUE(waitUntil([this] { return !serviceRegistered(); })) << "the last server did not end";
}

TEST_F(Sharing, StopSignalAnswersTheWaitingClientClosesThePortAndExitsCleanly)
{
    scale->setSilent(true);
    startServer();
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stopped");
    QDBusPendingCallWatcher waiting(asyncCall(client, "LeggiPeso_BILANCIAI_D400", {QStringLiteral("3")}));
    waitUntil([] { return false; }, 300); // the call is waiting on the silent scale
    m_server.terminate();
    ASSERT_TRUE(m_server.waitForFinished(10000));
    EXPECT_EQ(m_server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_server.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return waiting.isFinished(); }, 5000));
    const QDBusMessage reply = waiting.reply();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        EXPECT_TRUE(reply.errorName().startsWith("com.velkaro.Quorvex.Error.")) << reply.errorName().toStdString();
    }
    const QString device = QFileInfo(QString::fromStdString(scale->slavePath())).fileName();
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/run/lock/LCK..") + device)) << "a lock file was left";
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/var/lock/LCK..") + device)) << "a lock file was left";
}

} // namespace
