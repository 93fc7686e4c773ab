// The Modbus TCP face end to end, read by a client that is not ours
// (pymodbus): the map while a scale, a length counter and a height sensor
// answer; register writes, other units and addresses past the map refused;
// a peer not in Client closed at connect; coil 0 zeroing the counter and
// answered after the zeroing; the face and its client in `quorvex ports`;
// a client that connects for each poll reads the weight of now;
// connections past MaxClient and idle ones closed, a flood of connections
// told in a few lines; a bad Porta keeps the server.
#include "tests/e2e/Harness.h"
#include "tests/support/FreePort.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

const QString kPeer = QStringLiteral(QUORVEX_SOURCE_DIR "/tests/e2e/modbus_peer.py");

float floatAt(const QJsonArray &regs, int address)
{
    const quint32 bits = quint32(regs[address].toInt()) << 16 | quint32(regs[address + 1].toInt());
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The weight (input registers 0-1) as one connection of its own reads it.
float weightOnItsOwnConnection(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(5000))
        return -1;
    socket.write(QByteArray::fromHex("000100000006010400000002"));
    QByteArray reply;
    while (reply.size() < 13 && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    if (reply.size() < 13)
        return -1;
    const quint32 bits = quint32(quint8(reply[9])) << 24 | quint32(quint8(reply[10])) << 16
        | quint32(quint8(reply[11])) << 8 | quint8(reply[12]);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Runs a peer scenario to its first JSON line; the process stays for the caller.
QJsonObject peerLine(QProcess &peer, const QStringList &args)
{
    peer.start(QStringLiteral("/usr/bin/python3"), QStringList{kPeer} + args);
    if (!peer.waitForStarted(5000))
        return {};
    waitUntil([&peer] { return peer.canReadLine() || peer.state() == QProcess::NotRunning; }, 60000);
    return QJsonDocument::fromJson(peer.readLine()).object();
}

class ModbusTcp : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::CtmCounter> sensor = sim::launch<sim::CtmCounter>();
    const int port = support::freeTcpPort();

    void SetUp() override
    {
        scale->setWeightField("   12,500");
        counter->setCount(123);
        sensor->setCount(45);
        mapPort(3, scale->slavePath());
        mapPort(4, counter->slavePath());
        mapPort(5, sensor->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
        configureRole("Contametri", "CTM", "1", 4, "1");
        configureRole("Altezza", "CTM", "1", 5, "1");
        setSetting("ModbusTCP", "Porta", QString::number(port));
    }

    // The face listens once the configuration is loaded, just after the
    // server owns its bus name.
    void startListening()
    {
        startServer();
        ASSERT_TRUE(waitUntil([] {
            const QDBusMessage reply = diagnostics(QStringLiteral("ModbusTCP"));
            return qdbus_cast<QVariantMap>(reply.arguments().value(0)).value("state") == "listening";
        }));
    }

    void TearDown() override { stopServer(); }
};

TEST_F(ModbusTcp, APeerReadsTheMapAndIsRefusedEveryWrite)
{
    setSetting("ModbusTCP", "Client", "127.0.0.1");
    startListening();

    QProcess peer;
    const QJsonObject map = peerLine(peer, {"map", QString::number(port), "1"});
    const QJsonArray input = map.value("input").toArray();
    ASSERT_EQ(input.size(), 22) << QJsonDocument(map).toJson().toStdString();
    EXPECT_FLOAT_EQ(floatAt(input, 0), 12.5f) << "LeggiPeso";
    EXPECT_FLOAT_EQ(floatAt(input, 4), 123) << "LeggiLunghezza";
    EXPECT_FLOAT_EQ(floatAt(input, 6), 45) << "LeggiAltezza";
    EXPECT_FLOAT_EQ(floatAt(input, 8), 0) << "tracking is off";
    for (int role = 0; role < 3; ++role) {
        EXPECT_EQ(input[10 + role].toInt(), 3) << "valid and open, not stale: role " << role;
        EXPECT_LT(input[13 + role].toInt(), 65535) << "an age: role " << role;
    }
    for (int a = 16; a < 22; ++a)
        EXPECT_EQ(input[a].toInt(), 0) << "no coil yet: " << a;
    const QJsonArray holding = map.value("holding").toArray();
    ASSERT_EQ(holding.size(), 22);
    EXPECT_FLOAT_EQ(floatAt(holding, 0), 12.5f) << "holding registers carry the same map";

    EXPECT_EQ(map.value("write_register").toInt(), 1);
    EXPECT_EQ(map.value("write_registers").toInt(), 1);
    EXPECT_FLOAT_EQ(floatAt(map.value("after_writes").toArray(), 0), 12.5f) << "a refused write changes nothing";
    EXPECT_EQ(map.value("beyond").toInt(), 2) << "registers past the map";
    EXPECT_EQ(map.value("coil").toInt(), 1) << "coil 0 without Scrittura=1";
    EXPECT_EQ(map.value("other_unit").toInt(), 11) << "another unit id";

    QProcess ports;
    ports.start(clientPath(), {"ports"});
    ASSERT_TRUE(ports.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(ports.readAllStandardOutput());
    EXPECT_TRUE(
        out.contains(QStringLiteral("Modbus TCP: listening on 127.0.0.1 port %1, unit 1; client 127.0.0.1:").arg(port)))
        << out.toStdString();

    QProcess stranger;
    EXPECT_TRUE(peerLine(stranger, {"refused", QString::number(port), "127.0.0.2"}).value("refused").toBool())
        << "127.0.0.2 is not in Client";
    stranger.waitForFinished(30000);
    peer.closeWriteChannel();
    peer.waitForFinished(30000);
}

TEST_F(ModbusTcp, CoilZeroWithScritturaZeroesTheCounterBeforeItAnswers)
{
    setSetting("ModbusTCP", "Scrittura", "1");
    counter->setCount(500);
    startListening();
    counter->setReplyDelay(400ms);

    QProcess peer;
    const QJsonObject reply = peerLine(peer, {"coil", QString::number(port), "1"});
    ASSERT_TRUE(reply.contains("ms")) << QJsonDocument(reply).toJson().toStdString();
    EXPECT_TRUE(reply.value("exception").isNull()) << QJsonDocument(reply).toJson().toStdString();
    EXPECT_EQ(counter->count(), 0);
    // The zeroing's exchange alone takes the counter's delay: an answer
    // given before it had ended would come sooner.
    EXPECT_GE(reply.value("ms").toDouble(), 400);
    peer.waitForFinished(30000);
}

// MaxClient=2: a third connection is closed at once, the first two stay
// until Inattivo has passed without a request. Then a thousand connections,
// half of them sending what is not Modbus TCP: a few log lines, and no Qt
// warning about reading a closed socket.
TEST_F(ModbusTcp, PastMaxClientClosedIdleClosedAFloodToldInAFewLines)
{
    setSetting("ModbusTCP", "MaxClient", "2");
    setSetting("ModbusTCP", "Inattivo", "3");
    setSetting("ModbusTCP", "Intervallo", "0");
    captureLog = true;
    startListening();
    const auto clients = [] {
        return qdbus_cast<QVariantMap>(diagnostics(QStringLiteral("ModbusTCP")).arguments().value(0))
            .value("clients")
            .toStringList();
    };

    QTcpSocket held[3];
    for (QTcpSocket &socket : held) {
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(socket.waitForConnected(5000));
    }
    ASSERT_TRUE(waitUntil([&] { return held[2].state() == QAbstractSocket::UnconnectedState; }))
        << "the connection past MaxClient was not closed";
    EXPECT_EQ(held[0].state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(held[1].state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(clients().size(), 2);
    ASSERT_TRUE(waitUntil(
        [&] {
            return held[0].state() == QAbstractSocket::UnconnectedState
                && held[1].state() == QAbstractSocket::UnconnectedState;
        },
        20000))
        << "idle connections were kept";
    ASSERT_TRUE(waitUntil([&] { return clients().isEmpty(); }));

    const qsizetype before = serverLog().count(QLatin1Char('\n'));
    for (int i = 0; i < 1000; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        ASSERT_TRUE(socket.waitForConnected(5000));
        if (i % 2 == 0) {
            socket.write("GET / HTTP/1.0\r\n\r\n");
            socket.waitForBytesWritten(5000);
            socket.waitForDisconnected(5000);
        }
        socket.abort();
    }
    ASSERT_TRUE(waitUntil([&] { return clients().isEmpty(); }));
    const QString log = serverLog();
    EXPECT_LE(log.count(QLatin1Char('\n')) - before, 5) << log.toStdString();
    EXPECT_FALSE(log.contains("QIODevice")) << log.toStdString();
}

// A Porta that is not a port number, loaded by `quorvex reload`: one
// warning, the face not listening, and the server still running for it.
// Then port 1000 without the right to it: "listening" is never said, and
// the warning names the capability.
TEST_F(ModbusTcp, ABadPortaOrAProtectedPortKeepsTheServerAndSaysWhy)
{
    const bool unprivileged = geteuid() != 0 || prctl(PR_CAPBSET_READ, CAP_SETPCAP) == 1;
    if (geteuid() == 0)
        beforeServerStarts = [] { prctl(PR_CAPBSET_DROP, CAP_NET_BIND_SERVICE, 0, 0, 0); };
    captureLog = true;
    startListening();
    setSetting("ModbusTCP", "Porta", "abc");
    const ClientRun reload = runClient({"reload"});
    EXPECT_EQ(reload.status, 4) << reload.err.toStdString();
    waitUntil([] { return false; }, 1500);
    ASSERT_TRUE(serverRunning()) << serverLog().toStdString();
    EXPECT_EQ(serverLog().count("Porta=\"abc\""), 1) << serverLog().toStdString();
    const ClientRun ports = runClient({"ports"});
    EXPECT_TRUE(ports.out.contains("Modbus TCP: not listening: [ModbusTCP] Porta=\"abc\" is not"))
        << ports.out.toStdString();

    if (!unprivileged)
        GTEST_SKIP() << "root without CAP_SETPCAP keeps the right to any port";
    setSetting("ModbusTCP", "Porta", "1000");
    runClient({"reload"});
    ASSERT_TRUE(waitUntil([&] { return serverLog().contains("port 1000: "); })) << serverLog().toStdString();
    const QString log = serverLog();
    EXPECT_EQ(log.count("listening on"), 1) << "only the first port: " << log.toStdString();
    EXPECT_TRUE(log.contains("needs the CAP_NET_BIND_SERVICE capability")) << log.toStdString();
}

// Each read on a connection of its own: the second gets the weight changed
// after the first, not the first's.
TEST_F(ModbusTcp, AClientThatConnectsForEachPollReadsTheWeightOfNow)
{
    startListening();
    ASSERT_FLOAT_EQ(weightOnItsOwnConnection(port), 12.5f);
    scale->setWeightField("   20,000");
    waitUntil([] { return false; }, 500); // longer than Intervallo: no reading counts as recent
    EXPECT_FLOAT_EQ(weightOnItsOwnConnection(port), 20.0f);
}

} // namespace
