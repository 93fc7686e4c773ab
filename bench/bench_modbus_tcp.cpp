// The Modbus TCP face:
//  - a read of the whole map (function 4, 22 registers) from a Modbus TCP
//    client while the line is busy (four D-Bus clients reading the D400 at
//    9600 baud without pause, the face's own reads on top): median and p99
//    (goal p99 <= 2 ms);
//  - the face's own reads: exchanges on the scale's line in 5 s with a
//    Modbus client connected and nobody else reading, then with a D-Bus
//    client reading LeggiPeso and LeggiTara every 100 ms (Intervallo 200):
//    exchanges beyond the D-Bus client's own (goal 0).
#include "bench/BenchServer.h"
#include "tests/support/FreePort.h"

#include "sim/instruments/D400.h"
#include "tests/support/Wait.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <atomic>

namespace {

constexpr int kScaleRequestBytes = 3; // "XB" CR and "XT" CR

// The face listens once the configuration is loaded, just after the server owns its bus name.
bool faceListening()
{
    return support::waitUntil([] {
        const QDBusMessage reply = support::diagnostics(QStringLiteral("ModbusTCP"));
        return qdbus_cast<QVariantMap>(reply.arguments().value(0)).value(QStringLiteral("state")) == "listening";
    });
}

qulonglong exchangesOnPort3()
{
    return support::portInfo(3).value(QStringLiteral("bytesOut")).toULongLong() / kScaleRequestBytes;
}

// A Modbus TCP client of its own thread: blocking reads of the whole map.
class MapReader : public QThread {
public:
    explicit MapReader(int port, int reads) : m_port(port), m_reads(reads) {}
    std::vector<double> ms;
    bool failed = false;

protected:
    void run() override
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (!socket.waitForConnected(5000)) {
            failed = true;
            return;
        }
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QElapsedTimer clock;
        for (int i = 0; i < m_reads; ++i) {
            uchar frame[12] = {0, 0, 0, 0, 0, 6, 1, 4, 0, 0, 0, 22};
            qToBigEndian<quint16>(quint16(i), frame);
            clock.start();
            socket.write(reinterpret_cast<const char *>(frame), sizeof frame);
            QByteArray reply;
            while (reply.size() < 9 + 44) {
                if (!socket.waitForReadyRead(5000)) {
                    failed = true;
                    return;
                }
                reply += socket.readAll();
            }
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
            QThread::msleep(1); // spread over a few seconds of the busy line
        }
    }

private:
    int m_port;
    int m_reads;
};

// Keeps n D-Bus clients reading LeggiPeso, each calling again as soon as it has its answer.
class BusyLine {
public:
    explicit BusyLine(int n)
    {
        for (int i = 0; i < n; ++i) {
            m_connections.push_back(
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("busy%1").arg(i)));
            next(i);
        }
    }
    void stop() { m_stopped = true; }
    int calls() const { return m_calls; }

private:
    void next(int i)
    {
        if (m_stopped)
            return;
        auto *watcher = new QDBusPendingCallWatcher(support::asyncCall(m_connections[size_t(i)], "LeggiPeso"));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [this, i, watcher] {
            watcher->deleteLater();
            ++m_calls;
            next(i);
        });
    }
    std::vector<QDBusConnection> m_connections;
    bool m_stopped = false;
    int m_calls = 0;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void mapReadWhileBusy(sim::D400 &scale)
{
    scale.setPacing(9600);
    const int port = support::freeTcpPort();
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    server.setSetting("ModbusTCP", "Porta", QString::number(port));
    if (!server.start() || !faceListening()) {
        std::printf("server did not start\n");
        return;
    }
    BusyLine busy(4);
    MapReader reader(port, 2000);
    reader.start();
    QEventLoop loop;
    QObject::connect(&reader, &QThread::finished, &loop, &QEventLoop::quit);
    loop.exec();
    busy.stop();
    runFor(300);
    if (reader.failed) {
        std::printf("Modbus TCP map read: the face did not answer\n");
        return;
    }
    const bench::Stats s = bench::stats(reader.ms);
    std::printf("Modbus TCP read of the whole map while 4 D-Bus clients keep the line busy (%d readings):"
                " median %.3f ms, p99 %.3f ms (goal p99 <= 2 ms)\n",
                busy.calls(), s.median, s.p99);
}

void ownReads(sim::D400 &scale)
{
    scale.setPacing(0);
    const int port = support::freeTcpPort();
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    server.setSetting("ModbusTCP", "Porta", QString::number(port));
    server.setSetting("ModbusTCP", "Intervallo", "200");
    if (!server.start() || !faceListening()) {
        std::printf("server did not start\n");
        return;
    }
    QTcpSocket plc;
    plc.connectToHost(QHostAddress::LocalHost, quint16(port));
    plc.waitForConnected(5000);
    runFor(500);
    qulonglong before = exchangesOnPort3();
    runFor(5000);
    const qulonglong alone = exchangesOnPort3() - before;

    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("reader"));
    int clientCalls = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        for (const char *op : {"LeggiPeso", "LeggiTara"}) {
            auto *watcher = new QDBusPendingCallWatcher(support::asyncCall(client, QLatin1String(op)));
            QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [&clientCalls, watcher] {
                ++clientCalls;
                watcher->deleteLater();
            });
        }
    });
    tick.start(100);
    runFor(500);
    before = exchangesOnPort3();
    const int callsBefore = clientCalls;
    runFor(5000);
    const qulonglong withClient = exchangesOnPort3() - before;
    const int calls = clientCalls - callsBefore;
    tick.stop();
    runFor(300);
    std::printf("face's own reads, Intervallo 200 ms, 5 s: %llu exchanges with only a Modbus client connected"
                " (LeggiPeso and LeggiTara every 200 ms: about 50);\n"
                "  with a D-Bus client reading both every 100 ms: %llu exchanges for its %d calls,"
                " %lld added by the face (goal 0)\n",
                alone, withClient, calls, qlonglong(withClient) - calls);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    scale->setWeightField("   12,500");
    mapReadWhileBusy(*scale);
    ownReads(*scale);
    return 0;
}
