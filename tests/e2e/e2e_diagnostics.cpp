// What the server tells an integrator: the configuration's lines in its
// log, port errors that name the device, a device that comes back after an
// unplug, and no lock file left behind.
#include "tests/e2e/Harness.h"

#include "serial/SerialPort.h"
#include "sim/instruments/D400.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <linux/capability.h>
#include <pty.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace e2e;

namespace {

// CPU seconds the process has used (user and system).
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the command name, which ends with ')': utime and stime
    // are the 12th and 13th of them.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

class Diagnostics : public ServerTest {};

TEST_F(Diagnostics, ATypoInAModelAndADeviceWithoutPermissionAreLoggedAndNamed)
{
    // The scale's model has a typo and its divisor the wrong decimal mark.
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    scale->setWeightField("   12,340");
    mapPort(3, scale->slavePath());
    configureRole("Bilancia", "BILANCIAI", "D40", 3, "0.5");
    // The meter counter's device may not be opened by the server.
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    const QString device = QString::fromLocal8Bit(name);
    ASSERT_EQ(::chmod(name, 0), 0);
    mapPort(4, device.toStdString());
    configureRole("Contametri", "CTM", "1", 4);
    setSetting("Altezza", "Marca", "CTM");
    setSetting("Altezza", "Modello", "1");
    setSetting("Altezza", "Porta", "COM3");
    if (geteuid() == 0) {
        // Root opens any device whatever its mode; a server without the
        // capabilities that override file permissions is refused like a user
        // outside the device's group.
        if (prctl(PR_CAPBSET_READ, CAP_SETPCAP) != 1)
            GTEST_SKIP() << "root without CAP_SETPCAP cannot start a server without file-permission override";
        beforeServerStarts = [] {
            prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        };
    }
    captureLog = true;
    startServer(QStringLiteral("it_IT.UTF-8"));

    const QString denied = device + QStringLiteral(": Permission denied (is the user in the dialout group?)");
    // The load's last line is the service role's.
    EXPECT_TRUE(waitUntil([this] { return serverLog().contains(QStringLiteral("Servizio:")); }, 5000));
    const QString log = serverLog();
    EXPECT_TRUE(log.contains(QStringLiteral("quorvex.config: Bilancia: BILANCIAI D40, no driver named "
                                            "LeggiPeso_BILANCIAI_D40 or LeggiTara_BILANCIAI_D40 (nearest known: "
                                            "BILANCIAI D400")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(
        QStringLiteral("port 3 -> %1 at 9600,N,8,1, opened").arg(QString::fromStdString(scale->slavePath()))))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("[Bilancia] Divisore=\"0.5\" is not a number")));
    EXPECT_TRUE(log.contains(QStringLiteral("Contametri: CTM 1, driver LeggiLunghezza_CTM_1, AzzeraLunghezza_CTM_1; "
                                            "port 4 -> %1 at 9600,N,8,1, not open: 8002: %2")
                                 .arg(device, denied)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("[Altezza] Porta=\"COM3\" is not a port number (1 to 32767): the role "
                                            "has no port")));
    EXPECT_TRUE(log.contains(QStringLiteral("Servizio: not configured")));

    // Generic operations read 0; direct calls name the device and why, by
    // port number and by path alike.
    EXPECT_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_TRUE(scale->received().empty()) << "nothing was written for a model without a driver";
    for (const QString &reference : {QStringLiteral("4"), device}) {
        const auto [error, message] = callError(QStringLiteral("LeggiLunghezza_CTM_1"), {reference});
        EXPECT_EQ(error, QStringLiteral("com.velkaro.Quorvex.Error.PortError"));
        EXPECT_EQ(message, QStringLiteral("8002: ") + denied);
    }
    const auto [error, message] = callError(QStringLiteral("LeggiPeso_BILANCIAI_D400"), {QStringLiteral("0")});
    EXPECT_EQ(error, QStringLiteral("com.velkaro.Quorvex.Error.NotFound")) << "port number 0 is no port";
    ::close(master);
}

TEST_F(Diagnostics, ADeviceUnpluggedAndBackIsReadAgainWithoutCpuMeanwhileAndNoLockIsLeft)
{
    auto scale = sim::launch<sim::D400>();
    scale->setWeightField("   12,340");
    const QString link = configHome() + QStringLiteral("/scale");
    ASSERT_TRUE(QFile::link(QString::fromStdString(scale->slavePath()), link));
    mapPort(3, link.toStdString());
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    captureLog = true;
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);

    // Unplugged: the device goes, and with it its link (as udev removes the
    // /dev/serial/by-id one; the pty's number may soon serve another pty).
    scale.reset();
    ASSERT_TRUE(QFile::remove(link));
    QThread::msleep(200);
    const double cpuBefore = cpuSeconds(m_server.processId());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer call;
        call.start();
        EXPECT_EQ(callDouble("LeggiPeso"), 0);
        EXPECT_LT(call.elapsed(), 500) << "a call on a device that has gone fails at once";
        const auto [error, message] = callError(QStringLiteral("LeggiPeso_BILANCIAI_D400"), {QStringLiteral("3")});
        EXPECT_TRUE(message.startsWith(QStringLiteral("8002: %1: ").arg(link))) << message.toStdString();
        QThread::msleep(700);
    }
    const double cpu = cpuSeconds(m_server.processId()) - cpuBefore;
    // `quorvex ports` says the device is gone, not how it answered before.
    const ClientRun ports = runClient({"ports"});
    const QString row = ports.out.section(QLatin1Char('\n'), 2, 2);
    EXPECT_TRUE(row.startsWith("   3  gone ") && !row.contains("answering") && !row.contains("Unknown error"))
        << ports.out.toStdString();
    // A port that reports its error over and over takes a whole core; the
    // calls themselves cost about 1 % here under the sanitizers.
    EXPECT_LT(cpu / (double(clock.elapsed()) / 1000), 0.05) << cpu << " s of CPU in " << clock.elapsed() << " ms";

    // Plugged back at the same path: the next call reads the weight.
    scale = sim::launch<sim::D400>();
    scale->setWeightField("    7,500");
    ASSERT_TRUE(QFile::link(QString::fromStdString(scale->slavePath()), link));
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 7.5);
    // One warning when it went, naming role, port and device, one line when
    // it came back; nothing for the calls in between.
    waitUntil([this] { return serverLog().contains(QStringLiteral("the device is back")); }, 5000);
    const QString log = serverLog();
    const QString who = QStringLiteral("Bilancia on port 3 (%1)").arg(link);
    EXPECT_EQ(log.count(QStringLiteral("quorvex.port: %1: the device went away").arg(who)), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("quorvex.port: %1: the device is back").arg(who)), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("quorvex.port:")), 2) << log.toStdString();

    // Stopped with SIGTERM: the lock of the device is gone with the server.
    const QString lockFile = quorvex::SerialPort::lockFilePath(link);
    EXPECT_TRUE(QFile::exists(lockFile)) << lockFile.toStdString() << " while the server holds the port";
    stopServer();
    EXPECT_FALSE(QFile::exists(lockFile)) << lockFile.toStdString();
}

} // namespace
