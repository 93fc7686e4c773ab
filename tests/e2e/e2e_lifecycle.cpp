// The server process: its start-up tests, activation by D-Bus, one
// instance per client connection, and the end of the process when the
// last client leaves. Also: clients are served while others wait.
#include "tests/e2e/Harness.h"

#include "sim/instruments/BC100M.h"
#include "sim/instruments/D400.h"

#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>

using namespace e2e;

namespace {

QDBusConnection newClient(const QString &name)
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

class Lifecycle : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    void SetUp() override
    {
        scale->setWeightField("   12,340");
        mapPort(3, scale->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
    }
};

TEST_F(Lifecycle, DirectStartWithEmptyCommandLineEndsAtOnce)
{
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome());
    env.remove("DBUS_STARTER_ADDRESS");
    server.setProcessEnvironment(env);
    server.start(QStringLiteral(QUORVEXD_PATH), {});
    ASSERT_TRUE(server.waitForFinished(10000));
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_FALSE(serviceRegistered());
    EXPECT_TRUE(scale->received().empty());
}

TEST_F(Lifecycle, SecondServerProcessEndsAtOnceAndTheFirstKeepsServing)
{
    startServer();
    QProcess second;
    second.start(QStringLiteral(QUORVEXD_PATH), {QStringLiteral("--serve")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
}

TEST_F(Lifecycle, ActivationServesTheCallAndTheServerEndsWhenTheClientLeaves)
{
    // The bus starts the server with this environment.
    ASSERT_TRUE(setActivationEnvironment({{"LC_ALL", "it_IT.UTF-8"}}));

    ASSERT_FALSE(serviceRegistered());
    {
        QDBusConnection client = newClient("activating-client");
        const QDBusMessage reply = callOn(client, "LeggiPeso");
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_DOUBLE_EQ(reply.arguments().value(0).toDouble(), 12.34);
        EXPECT_TRUE(serviceRegistered());
    }
    QDBusConnection::disconnectFromBus("activating-client");
    // Its only client gone, the server closes its ports and ends.
    EXPECT_TRUE(waitUntil([this] { return !serviceRegistered(); })) << "the server kept running";
}

TEST_F(Lifecycle, EachClientHasAnInstanceAndTheLastOneToLeaveEndsTheServer)
{
    startServer();
    {
        QDBusConnection first = newClient("first");
        QDBusConnection second = newClient("second");
        EXPECT_DOUBLE_EQ(callOn(first, "LeggiPeso").arguments().value(0).toDouble(), 12.34);
        EXPECT_DOUBLE_EQ(callOn(second, "LeggiPeso").arguments().value(0).toDouble(), 12.34);
    }

    // The first client leaving does not disturb the second.
    QDBusConnection::disconnectFromBus("first");
    waitUntil([] { return false; }, 300);
    EXPECT_TRUE(serverRunning());
    scale->setWeightField("    5,000");
    {
        QDBusConnection second = QDBusConnection(QStringLiteral("second"));
        EXPECT_DOUBLE_EQ(callOn(second, "LeggiPeso").arguments().value(0).toDouble(), 5);
    }

    QDBusConnection::disconnectFromBus("second");
    EXPECT_TRUE(waitUntil([this] { return !serverRunning(); })) << "no client left: the process must end";
    EXPECT_EQ(m_server.exitStatus(), QProcess::NormalExit);
}

TEST_F(Lifecycle, WithMisuraMediaOnAtStartTheServerOutlivesItsClients)
{
    setSetting("Altezza", "MisuraMedia", "1");
    startServer();
    {
        QDBusConnection client = newClient("only");
        EXPECT_DOUBLE_EQ(callOn(client, "LeggiPeso").arguments().value(0).toDouble(), 12.34);
    }
    QDBusConnection::disconnectFromBus("only");
    // The server's own instance keeps the count above zero: ports stay open.
    waitUntil([] { return false; }, 500);
    EXPECT_TRUE(serverRunning());
    scale->setWeightField("    1,000");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 1);
}

TEST_F(Lifecycle, WaitingClientsDoNotHoldBackOthers)
{
    auto slow = sim::launch<sim::BC100M>();
    auto other = sim::launch<sim::D400>();
    scale->setSilent(true); // port 3: 2 s time-out
    slow->setSilent(true); // port 5: 22 s time-out
    other->setWeightField("   42,000");
    startServer();

    const QString slowPort = QString::fromStdString(slow->slavePath());
    const QString otherPort = QString::fromStdString(other->slavePath());
    QDBusConnection a = newClient("a"), b = newClient("b"), c = newClient("c");
    QElapsedTimer clock;
    clock.start();
    qint64 doneA = -1, doneB = -1;
    QDBusPendingCallWatcher waitA(asyncCall(a, "LeggiPeso")); // 2 s wait
    QDBusPendingCallWatcher waitB(asyncCall(b, "LeggiPeso_EUROBIL_BC100M", {slowPort})); // 22 s wait
    QObject::connect(&waitA, &QDBusPendingCallWatcher::finished, [&] { doneA = clock.elapsed(); });
    QObject::connect(&waitB, &QDBusPendingCallWatcher::finished, [&] { doneB = clock.elapsed(); });
    waitUntil([] { return false; }, 200); // both are now waiting in the server

    // A third client reading an answering scale is served at once.
    const QDBusMessage reply = callOn(c, "LeggiPeso_BILANCIAI_D400", {otherPort});
    const qint64 doneC = clock.elapsed();
    EXPECT_DOUBLE_EQ(reply.arguments().value(0).toDouble(), 42);

    ASSERT_TRUE(waitUntil([&] { return doneB >= 0; }, 40000));
    ASSERT_GE(doneA, 0);
    // The 2 s wait that began first ends long before the 22 s one that
    // began after it; the answering scale came before both.
    EXPECT_LT(doneC, doneA);
    EXPECT_LT(doneA, doneB);
    EXPECT_GT(doneB - doneA, 10000);
    EXPECT_DOUBLE_EQ(waitA.reply().arguments().value(0).toDouble(), 0);
    EXPECT_DOUBLE_EQ(waitB.reply().arguments().value(0).toDouble(), 0);
    QDBusConnection::disconnectFromBus("a");
    QDBusConnection::disconnectFromBus("b");
    QDBusConnection::disconnectFromBus("c");
}

TEST_F(Lifecycle, OptionalParametersInvokeAndBadCalls)
{
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
    // Invoke by dispatch identifier reaches the same operations.
    QDBusMessage reply =
        call("Invoke", {QVariant::fromValue(quint32(0x60030002)), QVariant::fromValue(QVariantList())});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_DOUBLE_EQ(qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toDouble(), 12.34);
    reply = call("Invoke",
                 {QVariant::fromValue(quint32(0x6003000f)),
                  QVariant::fromValue(QVariantList{QVariant::fromValue(QDBusVariant(QStringLiteral("3")))})});
    EXPECT_DOUBLE_EQ(qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toDouble(), 12.34);
    reply = call("Invoke", {QVariant::fromValue(quint32(0x60030005)), QVariant::fromValue(QVariantList())});
    EXPECT_EQ(reply.errorName(), "com.velkaro.Quorvex.Error.NotFound") << "0x60030005 falls in a gap";

    // With and without the optional parameter.
    EXPECT_EQ(call("ShowSampler").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("ShowSampler", {false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("LeggiLunghezza", {true}).type(), QDBusMessage::ReplyMessage);
    const QDBusMessage wrongType = call("LeggiLunghezza", {QStringLiteral("yes")});
    EXPECT_EQ(wrongType.errorName(), "com.velkaro.Quorvex.Error.InvalidArgument");
    EXPECT_EQ(wrongType.errorMessage(), "5: LeggiLunghezza takes () or (b), not (s)");
    EXPECT_EQ(call("LeggiServizio", {QStringLiteral("x")}).arguments().value(0).toString(), QString());
    EXPECT_EQ(call("ScriviServizio", {QStringLiteral("1")}).arguments().value(0).toString(), QString());
    EXPECT_EQ(call("NoSuchOperation").errorName().toStdString(), "org.freedesktop.DBus.Error.UnknownMethod");

    // The introspection data is the interface file.
    QDBusMessage intro = methodCall("org.freedesktop.DBus.Introspectable", "Introspect");
    const QString xml = QDBusConnection::sessionBus().call(intro).arguments().value(0).toString();
    EXPECT_TRUE(xml.contains("com.velkaro.Quorvex.DispId")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("LeggiPeso_BILANCIAI_D400"));
}

} // namespace
