// The plant feed end to end: the server publishing to a real mosquitto
// broker on a free local port, read back by a real subscriber.
#include "tests/e2e/Harness.h"
#include "tests/support/MqttBroker.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

using namespace e2e;

namespace {

class Feed : public ServerTest {
protected:
    mqtt::Broker broker;
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::CtmCounter> height = sim::launch<sim::CtmCounter>();

    void SetUp() override
    {
        qputenv("XDG_DATA_HOME", (configHome() + "/data").toLocal8Bit());
        ASSERT_TRUE(broker.start());
        mapPort(3, scale->slavePath());
        mapPort(4, counter->slavePath());
        mapPort(5, height->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3, "1");
        configureRole("Contametri", "CTM", "1", 4, "1");
        configureRole("Altezza", "CTM", "1", 5, "1");
        setSetting("Impianto", "Server", "127.0.0.1");
        setSetting("Impianto", "Porta", QString::number(broker.port()));
        setSetting("Impianto", "Linea", "L1");
    }
    void TearDown() override { stopServer(); }

    // Height tracking on (the sampler reads the counter), the server
    // started and connected.
    void startTracking()
    {
        setSetting("Altezza", "MisuraMedia", "1");
        setSetting("Altezza", "IntervalloDiCampionamento", "10");
        height->setCount(50);
        startServer();
        ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() == "connected"; }));
    }
    // The counter runs to 40 in steps the sampler sees (two more readings
    // after each move), a sample each 10.
    void windCoil()
    {
        for (long i = 1; i <= 4; ++i) {
            height->setCount(50 + i);
            counter->setCount(10 * i);
            const int n = counter->readRequests();
            ASSERT_TRUE(waitUntil([&] { return counter->readRequests() >= n + 2; }));
        }
    }
    void stopBroker()
    {
        broker.stop();
        ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() != "connected"; }));
    }

    static QJsonObject json(const QByteArray &payload) { return QJsonDocument::fromJson(payload).object(); }
};

TEST_F(Feed, OnlineRetainedReadingsOfEachRoleNewestWinsKeptRunningOfflineWhenKilled)
{
    scale->setWeightField("   12,340");
    counter->setCount(250);
    height->setCount(42);
    startServer();
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() == "connected"; }));
    // Subscribed after the server connected: "online" is there, retained.
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/#"));
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/stato", 1));
    EXPECT_EQ(sub.on("quorvex/L1/stato").first().payload, "online");
    EXPECT_TRUE(sub.on("quorvex/L1/stato").first().retained);

    // Readings from a client that then leaves: the feed keeps the server.
    {
        QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");
        EXPECT_DOUBLE_EQ(callOn(client, "LeggiPeso").arguments().value(0).toDouble(), 12.34);
        EXPECT_DOUBLE_EQ(callOn(client, "LeggiLunghezza").arguments().value(0).toDouble(), 250);
        EXPECT_DOUBLE_EQ(callOn(client, "LeggiAltezza").arguments().value(0).toDouble(), 42);
        QDBusConnection::disconnectFromBus("client");
    }
    const struct {
        const char *role;
        const char *operation;
        double value;
    } expected[] = {
        {"Bilancia", "LeggiPeso", 12.34}, {"Contametri", "LeggiLunghezza", 250}, {"Altezza", "LeggiAltezza", 42}};
    for (const auto &e : expected) {
        const QString topic = QStringLiteral("quorvex/L1/letture/%1").arg(e.role);
        ASSERT_TRUE(sub.waitForCount(topic, 1)) << e.role;
        const QJsonObject reading = json(sub.on(topic).first().payload);
        EXPECT_DOUBLE_EQ(reading.value("value").toDouble(), e.value) << e.role;
        EXPECT_EQ(reading.value("operation").toString(), e.operation);
        EXPECT_TRUE(reading.value("time").toString().endsWith('Z')) << qPrintable(reading.value("time").toString());
    }

    // A burst of weighings: at most two a second go out, the last one wins.
    const int before = int(sub.on("quorvex/L1/letture/Bilancia").size());
    QElapsedTimer burst;
    burst.start();
    for (int i = 1; i <= 12; ++i) {
        scale->setWeightField(QStringLiteral("%1").arg(i, 9).toStdString());
        ASSERT_DOUBLE_EQ(callDouble("LeggiPeso"), i);
    }
    const double seconds = double(burst.elapsed()) / 1000;
    ASSERT_TRUE(waitUntil([&] {
        return json(sub.on("quorvex/L1/letture/Bilancia").last().payload).value("value").toDouble() == 12;
    })) << "the newest weighing was not published";
    const int published = int(sub.on("quorvex/L1/letture/Bilancia").size()) - before;
    EXPECT_LE(published, int(seconds * 2) + 2) << "in " << seconds << " s";

    // No client any more, yet the server runs on for the feed.
    waitUntil([] { return false; }, 1500);
    EXPECT_TRUE(serverRunning());

    // Killed outright: the broker publishes the Last Will.
    ::kill(pid_t(m_server.processId()), SIGKILL);
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/stato", 2));
    EXPECT_EQ(sub.on("quorvex/L1/stato").last().payload, "offline");
}

// A server that hangs (SIGSTOP) is replaced by a new one for the same line,
// on a bus of its own; the broker fires the hung session's Will only after
// its keep-alive: the retained stato is "online" again afterwards.
TEST_F(Feed, ALateWillOfAHungServerDoesNotLeaveTheLiveLineOffline)
{
    setSetting("Impianto", "Keepalive", "5");
    startServer();
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() == "connected"; }));
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/stato"));
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/stato", 1));
    ::kill(pid_t(m_server.processId()), SIGSTOP);

    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(waitUntil([&] { return bus.canReadLine(); }));
    QTemporaryDir data;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus.readLine().trimmed()));
    env.insert("XDG_CONFIG_HOME", configHome());
    env.insert("XDG_DATA_HOME", data.path());
    env.insert("XDG_RUNTIME_DIR", data.path());
    QProcess second;
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(QStringLiteral(QUORVEXD_PATH), {"--serve"});
    ASSERT_TRUE(second.waitForStarted());

    // The new server's "online", the hung one's Will, and "online" after it.
    const auto offlineAt = [&] {
        const QList<mqtt::Message> said = sub.on("quorvex/L1/stato");
        for (qsizetype i = 1; i < said.size(); ++i)
            if (said[i].payload == "offline")
                return i;
        return qsizetype(-1);
    };
    ASSERT_TRUE(waitUntil([&] { return offlineAt() > 0; }, 30000)) << "the hung server's Will never came";
    EXPECT_TRUE(waitUntil([&] { return sub.on("quorvex/L1/stato").size() > offlineAt() + 1; }, 15000));
    EXPECT_EQ(sub.on("quorvex/L1/stato").last().payload, "online");
    mqtt::Subscriber late(broker.port(), QStringLiteral("quorvex/L1/stato"));
    ASSERT_TRUE(late.waitForCount("quorvex/L1/stato", 1));
    EXPECT_EQ(late.on("quorvex/L1/stato").first().payload, "online") << "the retained stato";

    ::kill(pid_t(m_server.processId()), SIGKILL);
    m_server.waitForFinished();
    second.terminate();
    second.waitForFinished();
    bus.terminate();
    bus.waitForFinished();
}

TEST_F(Feed, EachRolesHealthRetainedOnSaluteInPortsAndInTheClient)
{
    scale->setWeightField("   12,340");
    // A scale that takes 30 ms to answer, its reply paced at the line's speed.
    scale->setPacing(9600);
    scale->setReplyDelay(std::chrono::milliseconds(30));
    startServer();
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() == "connected"; }));
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);

    const QVariantMap health = instrumentHealth("Bilancia");
    EXPECT_EQ(health.value("state").toString(), "ok");
    EXPECT_EQ(health.value("model").toString(), "D400");
    EXPECT_EQ(health.value("port").toInt(), 3);
    EXPECT_EQ(health.value("readings").toULongLong(), 3u);
    EXPECT_EQ(health.value("failedReadings").toULongLong(), 0u);
    EXPECT_EQ(health.value("timedExchanges").toInt(), 3);
    // "XB" CR and a 15-byte reply, 10 bits a character at 9600 baud.
    EXPECT_NEAR(health.value("wireMs").toDouble(), 18.75, 0.01);
    EXPECT_GE(health.value("exchangeMs").toDouble(), 30);
    EXPECT_EQ(instrumentHealth("Contametri").value("state").toString(), "ok");

    // Retained: a late subscriber has it, with the figures within 5 s.
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/salute"));
    const auto lastScale = [&] {
        const QList<mqtt::Message> messages = sub.on("quorvex/L1/salute");
        return messages.isEmpty()
            ? QJsonObject()
            : json(messages.last().payload).value("roles").toObject().value("Bilancia").toObject();
    };
    ASSERT_TRUE(waitUntil([&] { return lastScale().value("readings").toInt() == 3; }, 15000));
    EXPECT_TRUE(sub.on("quorvex/L1/salute").first().retained);
    EXPECT_NEAR(lastScale().value("wireMs").toDouble(), 18.75, 0.01);

    // The scale falls silent: the new state is published, and told by the client.
    scale->setSilent(true);
    callDouble("LeggiPeso");
    ASSERT_TRUE(waitUntil([&] { return lastScale().value("state").toString() == "silent"; }));
    EXPECT_EQ(lastScale().value("failedReadings").toInt(), 1);
    EXPECT_TRUE(lastScale().value("lastError").toString().contains("no answer"))
        << qPrintable(lastScale().value("lastError").toString());
    QProcess client;
    client.start(clientPath(), {QStringLiteral("ports")});
    ASSERT_TRUE(client.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(client.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QRegularExpression("Bilancia +silent +3 +3 +1"))) << out.toStdString();
}

TEST_F(Feed, WrongPasswordIsLoggedReadingsUnaffectedOrderlyExitSaysOffline)
{
    broker.stop();
    broker.requirePassword("linea1", "giusta");
    ASSERT_TRUE(broker.start());
    QFile password(configHome() + "/password");
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    password.write("sbagliata\n");
    password.close();
    setSetting("Impianto", "Utente", "linea1");
    setSetting("Impianto", "FilePassword", password.fileName());
    scale->setWeightField("    7,500");
    captureLog = true;
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 7.5);
    ASSERT_TRUE(waitUntil([&] { return serverLog().contains("not authorised"); })) << serverLog().toStdString();
    const QVariantMap status = feedStatus();
    EXPECT_NE(status.value("state").toString(), "connected");
    EXPECT_TRUE(status.value("problem").toString().contains("not authorised"));

    // The right password, taken at the next load; an orderly stop then
    // leaves "offline" retained.
    password.open(QIODevice::WriteOnly | QIODevice::Truncate);
    password.write("giusta\n");
    password.close();
    stopServer();
    startServer();
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/stato"), "linea1", "giusta");
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/stato", 1));
    EXPECT_EQ(sub.on("quorvex/L1/stato").first().payload, "online");
    stopServer();
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/stato", 2));
    EXPECT_EQ(sub.on("quorvex/L1/stato").last().payload, "offline");
}

TEST_F(Feed, ZeroingPublishesTheCoilOnceWithItsProfileAndWeight)
{
    startTracking();
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/bobine"));
    waitUntil([] { return false; }, 500); // subscribed
    windCoil();
    scale->setWeightField("  812,500");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 812.5);
    callDouble("AzzeraLunghezza");

    ASSERT_TRUE(sub.waitForCount("quorvex/L1/bobine", 1));
    const QJsonObject coil = json(sub.on("quorvex/L1/bobine").first().payload);
    EXPECT_EQ(coil.value("line").toString(), "L1");
    EXPECT_DOUBLE_EQ(coil.value("length").toDouble(), 40);
    EXPECT_DOUBLE_EQ(coil.value("weight").toDouble(), 812.5);
    const QJsonArray profile = coil.value("profile").toArray();
    EXPECT_GE(profile.size(), 2);
    EXPECT_EQ(coil.value("samples").toInt(), profile.size());
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("unsent").toInt() == 0; }));
    waitUntil([] { return false; }, 1500);
    EXPECT_EQ(sub.on("quorvex/L1/bobine").size(), 1) << "the coil was published more than once";
}

TEST_F(Feed, CoilsClosedWhileTheBrokerIsDownGoOutInOrderAfterReconnectAndAfterRestartEachOnce)
{
    startTracking();
    // A persistent session: what the server publishes before this
    // subscriber is back after the broker's restart waits for it.
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/L1/bobine"), {}, {}, QStringLiteral("e2e-coils"));
    waitUntil([] { return false; }, 500); // subscribed

    // Two coils closed while the broker is down.
    stopBroker();
    windCoil();
    callDouble("AzzeraLunghezza");
    windCoil();
    callDouble("AzzeraLunghezza");
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("unsent").toInt() == 2; }));

    // Back: both arrive, oldest first, and are marked sent.
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/bobine", 2, 30000));
    const qint64 first = json(sub.on("quorvex/L1/bobine")[0].payload).value("id").toInteger();
    const qint64 second = json(sub.on("quorvex/L1/bobine")[1].payload).value("id").toInteger();
    EXPECT_LT(first, second);
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("unsent").toInt() == 0; }));

    // A coil left unsent by a server that then stopped goes out after its
    // restart; those already acknowledged do not go again. The subscriber's
    // own acknowledgements reach the broker first: a persistent broker
    // delivers a message again that it stopped without.
    waitUntil([] { return false; }, 500);
    stopBroker();
    windCoil();
    callDouble("AzzeraLunghezza");
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("unsent").toInt() == 1; }));
    stopServer();
    ASSERT_TRUE(broker.start());
    startServer();
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/bobine", 3, 30000));
    EXPECT_GT(json(sub.on("quorvex/L1/bobine")[2].payload).value("id").toInteger(), second);
    waitUntil([] { return false; }, 1500);
    EXPECT_EQ(sub.on("quorvex/L1/bobine").size(), 3);
}

} // namespace
