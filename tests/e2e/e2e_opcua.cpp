// The OPC UA face end to end, against a client that is not ours (node-opcua,
// tests/opcua-client): browse and read with the health in the status, a
// 100 ms subscription following the weight and the scale falling silent,
// AzzeraLunghezza refused and allowed, and, listening beyond loopback, the
// None session refused and a client certificate trusted by moving it from
// rejected/ to trusted/. Traffic stays on 127.0.0.1.
#include "tests/e2e/Harness.h"
#include "tests/support/FreePort.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>

using namespace e2e;

namespace {

const QString kClient = QStringLiteral(QUORVEX_SOURCE_DIR "/tests/opcua-client/client.js");

QString node()
{
    return QStandardPaths::findExecutable(QStringLiteral("node"));
}

// The next JSON line of a running scenario (the library's own messages
// skipped); empty when it ended first.
QJsonObject nextLine(QProcess &client)
{
    for (;;) {
        waitUntil([&client] { return client.canReadLine() || client.state() == QProcess::NotRunning; }, 90000);
        if (!client.canReadLine()) {
            ADD_FAILURE() << "client ended: " << client.readAllStandardError().toStdString();
            return {};
        }
        const QByteArray line = client.readLine();
        if (line.startsWith('{'))
            return QJsonDocument::fromJson(line).object();
    }
}

void startClient(QProcess &client, const QStringList &args)
{
    client.start(node(), QStringList{kClient} + args);
    ASSERT_TRUE(client.waitForStarted(10000));
}

// Runs a scenario to its end and gives its last line.
QJsonObject runScenario(const QStringList &args)
{
    QProcess client;
    startClient(client, args);
    const QJsonObject line = nextLine(client);
    client.waitForFinished(60000);
    return line;
}

QString shown(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

class Opcua : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    const int port = support::freeTcpPort();
    const QString url = QStringLiteral("opc.tcp://127.0.0.1:%1").arg(port);

    void SetUp() override
    {
        if (node().isEmpty() || !QFile::exists(QStringLiteral(QUORVEX_SOURCE_DIR "/tests/opcua-client/node_modules")))
            GTEST_FAIL() << "node-opcua-client is not installed: run scripts/install-deps.sh";
        scale->setWeightField("   12,500");
        counter->setCount(500);
        mapPort(3, scale->slavePath());
        mapPort(4, counter->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
        configureRole("Contametri", "CTM", "1", 4, "1");
        setSetting("Impianto", "Linea", "L7");
        setSetting("OPCUA", "Porta", QString::number(port));
    }

    void startListening()
    {
        startServer();
        ASSERT_TRUE(waitUntil([] {
            const QDBusMessage reply = diagnostics(QStringLiteral("OPCUA"));
            return qdbus_cast<QVariantMap>(reply.arguments().value(0)).value("state") == "listening";
        }));
        const QVariantMap face = qdbus_cast<QVariantMap>(diagnostics(QStringLiteral("OPCUA")).arguments().value(0));
        EXPECT_FALSE(face.value("polled").toBool()) << "the stack runs from its epoll descriptor";
    }

    QString pki() const { return dataHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/pki"); }

    void TearDown() override { stopServer(); }
};

TEST_F(Opcua, ABrowsingClientReadsFollowsAndSeesTheScaleFallSilent)
{
    startListening();

    const QJsonObject read = runScenario({"read", url});
    ASSERT_TRUE(read.contains("weight")) << shown(read).toStdString();
    EXPECT_GT(read.value("ns").toInt(), 0) << "urn:velkaro:quorvex in the namespace array";
    EXPECT_TRUE(read.value("objects").toVariant().toStringList().contains("Linea"));
    EXPECT_EQ(read.value("line").toVariant().toStringList(), QStringList({"Bilancia", "Contametri", "Bobine"}));
    EXPECT_TRUE(read.value("scale").toVariant().toStringList().contains("LeggiPeso")) << shown(read).toStdString();
    EXPECT_TRUE(read.value("counter").toVariant().toStringList().contains("AzzeraLunghezza"));
    EXPECT_EQ(read.value("lineName").toString(), "L7");
    const QJsonObject weight = read.value("weight").toObject();
    EXPECT_EQ(weight.value("status").toString(), "Good");
    EXPECT_DOUBLE_EQ(weight.value("value").toDouble(), 12.5);
    EXPECT_GT(weight.value("sourceTimestamp").toDouble(), 0);
    EXPECT_EQ(read.value("state").toObject().value("value").toString(), "ok");
    EXPECT_EQ(read.value("coils").toObject().value("status").toString(), "Good");
    EXPECT_EQ(read.value("coilId").toObject().value("status").toString(), "BadWaitingForInitialData");

    QProcess watch;
    startClient(watch, {"watch", url});
    QJsonObject change;
    while ((change = nextLine(watch)).value("value").toDouble() != 12.5 && !change.isEmpty()) {}
    scale->setWeightField("   13,250");
    while ((change = nextLine(watch)).value("value").toDouble() != 13.25 && !change.isEmpty()) {}
    EXPECT_EQ(change.value("status").toString(), "Good") << shown(change).toStdString();
    scale->setSilent(true);
    while ((change = nextLine(watch)).value("status").toString() != "BadNoCommunication" && !change.isEmpty()) {}
    EXPECT_DOUBLE_EQ(change.value("value").toDouble(), 13.25) << "the last value stays, its status says why";

    const ClientRun ports = runClient({"ports"});
    EXPECT_TRUE(
        ports.out.contains(QStringLiteral("OPC UA: listening on %1, security None, read only; 1 session(s)").arg(url)))
        << ports.out.toStdString();
    EXPECT_TRUE(ports.out.contains(pki() + QStringLiteral("/own/cert.der, thumbprint "))) << ports.out.toStdString();
    EXPECT_TRUE(ports.out.contains(QStringLiteral("session QuorvexTestClient (None)"))) << ports.out.toStdString();
    watch.closeWriteChannel();
    watch.waitForFinished(30000);

    const QJsonObject refused = runScenario({"zero", url});
    EXPECT_EQ(refused.value("status").toString(), "BadUserAccessDenied") << shown(refused).toStdString();
    EXPECT_EQ(counter->count(), 500) << "without Scrittura=1 nothing reaches the counter";
    EXPECT_TRUE(QFileInfo(pki() + QStringLiteral("/own/key.pem")).permissions()
                == (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser));
}

TEST_F(Opcua, AzzeraLunghezzaZeroesOnlyInTheUsersSessionWithScrittura)
{
    const QString passwordFile = configHome() + QStringLiteral("/opcua-password");
    QFile file(passwordFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("segreta\n");
    file.close();
    setSetting("OPCUA", "Scrittura", "1");
    setSetting("OPCUA", "Utente", "capoturno");
    setSetting("OPCUA", "FilePassword", passwordFile);
    startListening();

    EXPECT_EQ(runScenario({"zero", url}).value("status").toString(), "BadUserAccessDenied") << "an anonymous session";
    EXPECT_EQ(counter->count(), 500);
    const QJsonObject zeroed = runScenario({"zero", url, "capoturno", "segreta"});
    EXPECT_EQ(zeroed.value("status").toString(), "Good") << shown(zeroed).toStdString();
    EXPECT_EQ(counter->count(), 0);
}

TEST_F(Opcua, BeyondLoopbackOnlyATrustedClientCertificateConnects)
{
    // Every interface; the client still connects through 127.0.0.1.
    setSetting("OPCUA", "Indirizzo", "0.0.0.0");
    captureLog = true;
    startListening();

    QProcess client;
    startClient(client, {"secure", url, configHome() + QStringLiteral("/client-pki")});
    const QJsonObject first = nextLine(client);
    EXPECT_FALSE(first.value("none").toObject().value("ok").toBool()) << shown(first).toStdString();
    EXPECT_FALSE(first.value("encrypted").toObject().value("ok").toBool()) << shown(first).toStdString();
    const QStringList rejected = QDir(pki() + QStringLiteral("/rejected")).entryList({"*.der"}, QDir::Files);
    ASSERT_EQ(rejected.size(), 1) << shown(first).toStdString();
    const QString warning = QStringLiteral("OPC UA client refused: its certificate is not trusted");
    EXPECT_TRUE(waitUntil([&] { return serverLog().contains(rejected.front()); })) << serverLog().toStdString();
    EXPECT_EQ(serverLog().count(warning), 1) << "one warning, though the client tried more than once";

    ASSERT_TRUE(QFile::rename(pki() + QStringLiteral("/rejected/") + rejected.front(),
                              pki() + QStringLiteral("/trusted/") + rejected.front()));
    client.write("trusted\n");
    const QJsonObject again = nextLine(client).value("again").toObject();
    EXPECT_TRUE(again.value("ok").toBool()) << shown(again).toStdString();
    EXPECT_EQ(again.value("status").toString(), "Good");
    client.waitForFinished(30000);
}

} // namespace
