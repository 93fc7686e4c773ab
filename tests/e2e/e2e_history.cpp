// Coil records end to end: height tracking on with a CTM counter (port 3), a
// height sensor (a second CTM counter, port 4) and a D400 scale (port 5);
// coils closed by AzzeraLunghezza are read back through
// com.velkaro.Quorvex.History and the client.
#include "tests/e2e/Harness.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QDir>
#include <QFile>
#include <QPointF>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>

using namespace e2e;

namespace {

QList<QVariantMap> coils()
{
    QList<QVariantMap> list;
    history(QStringLiteral("Coils"), {qint64(0), qint64(0), 0u}).arguments().value(0).value<QDBusArgument>() >> list;
    return list;
}

// Collects the CoilClosed signals.
class CoilClosedSpy : public QObject {
    Q_OBJECT
public:
    CoilClosedSpy()
    {
        connectSignal(quorvex::kHistoryInterface, QStringLiteral("CoilClosed"), this, SLOT(closed(qlonglong)));
    }
    QList<qint64> ids;
public slots:
    void closed(qlonglong id) { ids.append(id); }
};

class History : public ServerTest {
protected:
    sim::Handle<sim::CtmCounter> sensor = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();

    void SetUp() override
    {
        mapPort(3, counter->slavePath());
        mapPort(4, sensor->slavePath());
        mapPort(5, scale->slavePath());
        configureRole("Contametri", "CTM", "1", 3, "1");
        configureRole("Altezza", "CTM", "1", 4, "1");
        configureRole("Bilancia", "BILANCIAI", "D400", 5);
        scale->setWeightField("   12,340");
        setSetting("Altezza", "MisuraMedia", "true");
        setSetting("Altezza", "IntervalloDiCampionamento", "10");
        setSetting("Altezza", "DistanzaSensoreArrotolatore", "30");
        sensor->setCount(50);
    }
    void TearDown() override { stopServer(); }

    void standAt(long length, long height)
    {
        sensor->setCount(height);
        counter->setCount(length);
        const int n = counter->readRequests();
        ASSERT_TRUE(waitUntil([&] { return counter->readRequests() >= n + 2; })) << "the sampler stopped";
        ASSERT_DOUBLE_EQ(callDouble("LeggiLunghezza"), double(length));
    }
    // Samples at 30..70 (heights 50..90), the counter at 45: the coil
    // closed there holds the samples at 30 and 40, average 55.
    void fillFirstCoil()
    {
        for (long i = 0; i < 5; ++i)
            standAt(10 * i, 50 + 10 * i);
        standAt(45, 99);
    }
    void zero() { ASSERT_EQ(call("AzzeraLunghezza").type(), QDBusMessage::ReplyMessage); }
};

TEST_F(History, TwoCoilsGiveTwoRecordsThatSurviveARestartAndReadAsCsv)
{
    CoilClosedSpy spy;
    startServer();
    fillFirstCoil();
    const double weight = callDouble("LeggiPeso");
    zero();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 55);
    // The rebased buffer is (-5, 60), (5, 70), (15, 80), (25, 90); a sample
    // at 35, then the coil closed at 5 holds (-5, 60), (5, 70).
    standAt(5, 61);
    zero();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 65);
    ASSERT_TRUE(waitUntil([&] { return spy.ids.size() == 2; })) << "CoilClosed was not sent for each coil";

    stopServer();
    startServer();
    const QList<QVariantMap> list = coils();
    ASSERT_EQ(list.size(), 2);
    const QVariantMap &second = list[0], &first = list[1];
    EXPECT_EQ(first.value("length").toDouble(), 45);
    EXPECT_EQ(first.value("averageHeight").toDouble(), 55);
    EXPECT_EQ(first.value("samples").toUInt(), 2u);
    EXPECT_EQ(first.value("weight").toDouble(), weight);
    EXPECT_GT(first.value("weightRead").toLongLong(), 0);
    EXPECT_EQ(spy.ids, (QList<qint64>{first.value("id").toLongLong(), second.value("id").toLongLong()}));
    EXPECT_EQ(second.value("length").toDouble(), 5);
    EXPECT_EQ(second.value("averageHeight").toDouble(), 65);
    EXPECT_FALSE(second.contains("weight")) << "nobody read the scale while the second coil was wound";

    QList<QPointF> profile;
    history("Profile", {first.value("id").toLongLong()}).arguments().value(0).value<QDBusArgument>() >> profile;
    EXPECT_EQ(profile, (QList<QPointF>{{30, 50}, {40, 60}}));
    const QDBusMessage unknown = history("Profile", {qint64(999)});
    EXPECT_EQ(unknown.errorName(), "com.velkaro.Quorvex.Error.NotFound");
    EXPECT_TRUE(unknown.errorMessage().contains("999"));

    QProcess client;
    client.start(clientPath(), {"coils", "--csv"});
    ASSERT_TRUE(client.waitForFinished(20000));
    EXPECT_EQ(client.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(client.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "id,closed,length,averageHeight,samples,weight,weightRead");
    const QStringList row = lines[2].split(',');
    ASSERT_EQ(row.size(), 7);
    EXPECT_EQ(row[0], first.value("id").toString());
    EXPECT_TRUE(QDateTime::fromString(row[1], Qt::ISODateWithMs).isValid()) << row[1].toStdString();
    EXPECT_EQ(row[2], "45");
    EXPECT_EQ(row[3], "55");
    EXPECT_EQ(row[4], "2");
    EXPECT_EQ(row[5].toDouble(), weight);
}

TEST_F(History, AnUnwritableStoreLeavesZeroingAndReadingsIntactAndWarnsOnce)
{
    // A file where the store's folder should be.
    QDir().mkpath(dataHome());
    QFile blocker(dataHome() + "/Velkaro s.r.l.");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    captureLog = true;
    startServer();
    fillFirstCoil();
    zero();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 55);
    standAt(5, 61);
    zero();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 65);
    // Listing fails with the reason; it never looks like an empty store.
    const QDBusMessage list = history("Coils", {qint64(0), qint64(0), 0u});
    EXPECT_EQ(list.errorName(), "com.velkaro.Quorvex.Error.Failed");
    EXPECT_TRUE(list.errorMessage().contains("coils.sqlite")) << list.errorMessage().toStdString();
    const QString log = serverLog();
    EXPECT_EQ(log.count(QRegularExpression("quorvex.history: [^\n]*coils.sqlite")), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("cannot create the folder")) << log.toStdString();
}

TEST_F(History, TheHistoryWindowKeepsTheServerAliveAfterItsLastClient)
{
    setSetting("Altezza", "MisuraMedia", "false"); // no sampler window to keep it
    startServer();
    {
        QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "only");
        ASSERT_EQ(callOn(client, "LeggiPeso").type(), QDBusMessage::ReplyMessage);
        ASSERT_EQ(callInterface(client, quorvex::kHistoryInterface, "ShowHistory").type(), QDBusMessage::ReplyMessage);
    }
    QDBusConnection::disconnectFromBus("only");
    EXPECT_FALSE(waitUntil([this] { return !serverRunning(); }, 4000)) << "the open window did not keep the process";
}

TEST_F(History, ACoilWhoseZeroingWasAnsweredSurvivesAKillInTheNextInstant)
{
    for (int round = 1; round <= 10; ++round) {
        startServer();
        standAt(10, 50);
        standAt(20, 60);
        zero();
        ::kill(pid_t(m_server.processId()), SIGKILL);
        ASSERT_TRUE(m_server.waitForFinished(5000));
        ASSERT_TRUE(waitUntil([this] { return !serviceRegistered(); }, 5000));
        startServer();
        ASSERT_EQ(coils().size(), round) << "the coil of round " << round << " was lost";
        stopServer();
    }
}

TEST_F(History, AFullStoreKeepsZeroingAndWritesTheHeldCoilOnceThereIsSpaceAgain)
{
    const QString folder = dataHome() + "/Velkaro s.r.l./Quorvex";
    ASSERT_TRUE(QDir().mkpath(folder));
    QProcess mount;
    mount.setProcessChannelMode(QProcess::MergedChannels);
    mount.start("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", folder});
    if (!mount.waitForFinished(10000) || mount.exitCode() != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << mount.readAll().toStdString();
    const auto unmount = qScopeGuard([&] {
        stopServer();
        QProcess::execute("umount", {"-l", folder});
    });
    captureLog = true;
    startServer();
    ASSERT_EQ(coils().size(), 0) << "the store did not open on the tmpfs";

    // Every byte left taken by a filler file.
    QFile filler(folder + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {}
    filler.close();
    fillFirstCoil();
    zero();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 55) << "the zeroing did not go on";
    EXPECT_TRUE(waitUntil([&] { return serverLog().contains("coil not recorded"); }, 5000))
        << serverLog().toStdString();

    // Space again: the held coil is written without another zeroing.
    ASSERT_TRUE(QFile::remove(filler.fileName()));
    ASSERT_TRUE(waitUntil([&] { return coils().size() == 1; }, 15000)) << serverLog().toStdString();
    EXPECT_EQ(coils().first().value("length").toDouble(), 45);
    EXPECT_EQ(serverLog().count("coil store"), 1)
        << "one warning for the failing period: " << serverLog().toStdString();
    EXPECT_FALSE(serverLog().contains("still in use")) << serverLog().toStdString();
}

} // namespace

#include "e2e_history.moc"
