// The traffic monitor end to end: `quorvex monitor` traces the request and
// reply bytes of a D400 exchange, Ports() reports the port with its byte
// counts, and the Traffic signal flows only while some client watches.
#include "tests/e2e/Harness.h"

#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QRegularExpression>

using namespace e2e;

namespace {

// Counts the Traffic signals this test's connection receives.
class SignalCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
public slots:
    void onTraffic(const QDBusMessage &) { ++count; }
};

// The hex columns of the trace lines of one direction, joined.
QString tracedBytes(const QString &trace, const QString &direction)
{
    QString hex;
    static const QRegularExpression line(QStringLiteral("^\\S+  port 3\\s+(TX|RX)  ((?:[0-9a-f]{2} )*[0-9a-f]{2})"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(trace); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(1) == direction)
            hex += match.captured(2) + QLatin1Char(' ');
    }
    return hex.trimmed();
}

class Monitor : public ServerTest {
protected:
    sim::Handle<sim::D400> d400 = sim::launch<sim::D400>();

    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(clientPath()).isExecutable()) << "no client at " << clientPath().toStdString();
        mapPort(3, d400->slavePath());
        d400->setWeightField("   12,340");
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
        startServer();
    }
};

TEST_F(Monitor, TracesTheExchangeAndPortsCountsItsBytes)
{
    QProcess monitor;
    monitor.start(clientPath(), {QStringLiteral("monitor"), QStringLiteral("3")});
    QString notes;
    ASSERT_TRUE(waitUntil([&] {
        notes += QString::fromLocal8Bit(monitor.readAllStandardError());
        return notes.contains(QLatin1String("watching the traffic of 3"));
    })) << notes.toStdString();

    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
    QString trace;
    waitUntil(
        [&] {
            trace += QString::fromLocal8Bit(monitor.readAllStandardOutput());
            return tracedBytes(trace, QStringLiteral("RX")).size() >= 15 * 3 - 1;
        },
        5000);
    monitor.terminate();
    EXPECT_TRUE(monitor.waitForFinished(5000));
    EXPECT_EQ(monitor.exitCode(), 0);
    trace += QString::fromLocal8Bit(monitor.readAllStandardOutput());

    // "XB" CR out, "   12,340 kg  " CR back, with the text beside the hex.
    EXPECT_EQ(tracedBytes(trace, QStringLiteral("TX")), QStringLiteral("58 42 0d")) << trace.toStdString();
    EXPECT_EQ(tracedBytes(trace, QStringLiteral("RX")), QStringLiteral("20 20 20 31 32 2c 33 34 30 20 6b 67 20 20 0d"))
        << trace.toStdString();
    EXPECT_TRUE(trace.contains(QLatin1String("XB."))) << trace.toStdString();

    const QDBusMessage reply = diagnostics(QStringLiteral("Ports"));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    QVariantMap port3;
    for (const QVariantMap &port : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
        if (port.value("number").toInt() == 3)
            port3 = port;
    EXPECT_EQ(port3.value("device").toString().toStdString(), d400->slavePath());
    EXPECT_EQ(port3.value("settings").toString(), QStringLiteral("9600,N,8,1"));
    EXPECT_TRUE(port3.value("open").toBool());
    EXPECT_EQ(port3.value("roles").toStringList(), QStringList(QStringLiteral("Bilancia")));
    EXPECT_EQ(port3.value("error").toString(), QString());
    EXPECT_EQ(port3.value("bytesOut").toULongLong(), 3u);
    EXPECT_EQ(port3.value("bytesIn").toULongLong(), 15u);

    // The client prints the same as a table row.
    QProcess ports;
    ports.start(clientPath(), {QStringLiteral("ports")});
    ASSERT_TRUE(ports.waitForFinished(10000));
    const QString table = QString::fromLocal8Bit(ports.readAllStandardOutput());
    EXPECT_EQ(ports.exitCode(), 0) << ports.readAllStandardError().toStdString();
    // The scale answered: the line is "answering", with the time of its reply.
    const QRegularExpression row(QStringLiteral("   3  open    9600,N,8,1            15          3  answering   "
                                                "\\d\\d:\\d\\d:\\d\\d    Bilancia    %1\n")
                                     .arg(QRegularExpression::escape(QString::fromStdString(d400->slavePath()))));
    EXPECT_TRUE(row.match(table).hasMatch()) << table.toStdString();
    EXPECT_FALSE(table.contains(QStringLiteral("\n   0  "))) << "element 0 is no port: " << table.toStdString();
}

TEST_F(Monitor, TrafficFlowsOnlyWhileAClientWatches)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    SignalCounter signals_;
    ASSERT_TRUE(connectSignal(quorvex::kDiagnosticsInterface, QStringLiteral("Traffic"), &signals_,
                              SLOT(onTraffic(QDBusMessage))));
    const auto trafficOfOneReading = [&] {
        signals_.count = 0;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
        waitUntil([&] { return signals_.count >= 2; }, 1000);
        return signals_.count;
    };

    EXPECT_EQ(trafficOfOneReading(), 0) << "nobody watches yet";

    // Two Watch calls need two Unwatch calls.
    ASSERT_EQ(diagnostics(QStringLiteral("Watch")).type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(diagnostics(QStringLiteral("Watch")).type(), QDBusMessage::ReplyMessage);
    EXPECT_GE(trafficOfOneReading(), 2);
    diagnostics(QStringLiteral("Unwatch"));
    EXPECT_GE(trafficOfOneReading(), 2);
    diagnostics(QStringLiteral("Unwatch"));
    EXPECT_EQ(trafficOfOneReading(), 0);

    // A watcher that leaves the bus without Unwatch no longer counts.
    QString name;
    {
        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        name = other.baseService();
        ASSERT_EQ(callInterface(other, quorvex::kDiagnosticsInterface, QStringLiteral("Watch")).type(),
                  QDBusMessage::ReplyMessage);
        EXPECT_GE(trafficOfOneReading(), 2);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    // Once the bus has seen it go, the server has been told before any later call.
    ASSERT_TRUE(waitUntil([&] { return !bus.interface()->isServiceRegistered(name).value(); }));
    EXPECT_EQ(trafficOfOneReading(), 0);
}

} // namespace

#include "e2e_monitor.moc"
