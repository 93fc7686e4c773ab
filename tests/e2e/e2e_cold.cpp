// Commissioning from a cold PC, through the client as typed and no server
// running: ports and monitor start nothing and say in words how the server
// starts; without a session bus the client says how to reach the line
// user's one; reload and probe start the server by D-Bus activation, and
// the probe finds a pymodbus RTU slave (a peer none of ours) although text
// requests share its line.
#include "tests/e2e/Harness.h"

#include "sim/instruments/D400.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>
#include <unistd.h>

using namespace e2e;

namespace {

struct ClientRun {
    int status = -1;
    QString out, err;
};

ClientRun runClient(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess client;
    client.setProcessEnvironment(env);
    client.start(clientPath(), args);
    if (!client.waitForFinished(150000)) {
        client.kill();
        client.waitForFinished();
    }
    return {client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1,
            QString::fromLocal8Bit(client.readAllStandardOutput()),
            QString::fromLocal8Bit(client.readAllStandardError())};
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

class Cold : public ServerTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(clientPath()).isExecutable());
        ASSERT_FALSE(serviceRegistered()) << "a server runs already";
        ASSERT_TRUE(setActivationEnvironment());
    }

    // A server the bus started for a Diagnostics call holds no client
    // instance and so keeps running: the test ends it, by its process id.
    void TearDown() override
    {
        const QDBusReply<uint> pid =
            QDBusConnection::sessionBus().interface()->servicePid(QLatin1String(quorvex::kServiceName));
        if (pid.isValid() && pid.value() > 0)
            ::kill(pid_t(pid.value()), SIGTERM);
        EXPECT_TRUE(waitUntil([] { return !serviceRegistered(); }, 10000));
    }

    static void expectNoDbusErrorName(const ClientRun &run)
    {
        EXPECT_FALSE(run.err.contains(QLatin1String("org.freedesktop"))) << run.err.toStdString();
    }
};

TEST_F(Cold, LookingStartsNoServerAndSaysHowOneStarts)
{
    for (const QStringList &args : {QStringList{QStringLiteral("ports")}, QStringList{QStringLiteral("monitor")}}) {
        const ClientRun run = runClient(args);
        EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith(QLatin1String("quorvex: no Quorvex server is running")))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String("'systemctl --user start quorvex'"))) << run.err.toStdString();
        expectNoDbusErrorName(run);
    }
    EXPECT_TRUE(runClient({QStringLiteral("ports")}).out.contains(QLatin1String("Serial devices present:")));
    EXPECT_FALSE(serviceRegistered());

    // As over SSH: no session bus address.
    QProcessEnvironment ssh = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY"})
        ssh.remove(QLatin1String(name));
    const QString userBus = QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/%1/bus").arg(::getuid());
    ClientRun run = runClient({QStringLiteral("LeggiPeso")}, ssh);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("DBUS_SESSION_BUS_ADDRESS is not set"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(userBus)) << run.err.toStdString();
    expectNoDbusErrorName(run);
    run = runClient({QStringLiteral("-v"), QStringLiteral("LeggiPeso")}, ssh);
    EXPECT_TRUE(run.err.contains(QLatin1String("\nquorvex: D-Bus error: org.freedesktop.DBus.Error.")))
        << run.err.toStdString();
}

TEST_F(Cold, ReloadStartsTheServer)
{
    auto d400 = sim::launch<sim::D400>();
    d400->setWeightField("   12,340");
    mapPort(3, d400->slavePath());
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    const ClientRun run = runClient({QStringLiteral("reload")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QString());
    EXPECT_TRUE(serviceRegistered());
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
}

// socat's pair of pseudo-terminals with the pymodbus slave on one end.
class PymodbusSlave {
public:
    static QString missing()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            return QStringLiteral("socat is not installed");
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                              {QStringLiteral("-c"), QStringLiteral("import pymodbus.server")})
            != 0)
            return QStringLiteral("python3-pymodbus is not installed");
        return QString();
    }

    // Both ends made and the slave serving unit on the far one; empty, or why not.
    QString start(int unit, const QStringList &registers)
    {
        m_socat.start(QStringLiteral("socat"),
                      {QStringLiteral("pty,raw,echo=0,link=") + device(),
                       QStringLiteral("pty,raw,echo=0,link=") + m_dir.filePath(QStringLiteral("slave"))});
        if (!waitUntil([&] {
                return QFileInfo::exists(device()) && QFileInfo::exists(m_dir.filePath(QStringLiteral("slave")));
            }))
            return QStringLiteral("socat made no pseudo-terminals");
        m_slave.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral(QUORVEX_SOURCE_DIR "/tests/e2e/peers/pymodbus_rtu_slave.py"),
                                  m_dir.filePath(QStringLiteral("slave")), QString::number(unit)}
                          + registers);
        if (!waitUntil([&] { return m_slave.canReadLine() || m_slave.state() == QProcess::NotRunning; }, 10000)
            || !m_slave.readLine().startsWith("ready"))
            return QStringLiteral("the slave did not start: ") + QString::fromLocal8Bit(m_slave.readAllStandardError());
        return QString();
    }
    ~PymodbusSlave()
    {
        stop(m_slave);
        stop(m_socat);
    }
    QString device() const { return m_dir.filePath(QStringLiteral("master")); }

private:
    QTemporaryDir m_dir;
    QProcess m_socat, m_slave;
};

TEST_F(Cold, ProbeStartsTheServerAndFindsAPymodbusSlaveAmongTextInstruments)
{
    if (const QString missing = PymodbusSlave::missing(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    const QString folder = configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile definition(folder + QStringLiteral("/acme-mc32.ini"));
    ASSERT_TRUE(definition.open(QIODevice::WriteOnly));
    // At the default line settings, 9600,N,8,1, where the text models of the
    // role are tried too (a pseudo-terminal takes no parity).
    definition.write("[Strumento]\nMarca=ACME\nModello=MC32\nProtocollo=MODBUS-RTU\nIndirizzo=7\n"
                     "[LeggiLunghezza]\nFunzione=3\nRegistro=100\nTipo=INT32\nOrdine=CDAB\nFattore=0.01\n");
    definition.close();
    PymodbusSlave slave;
    // 123456 as two registers, low word first.
    const QString problem = slave.start(7, {QStringLiteral("100=57920"), QStringLiteral("101=1")});
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();

    const ClientRun run =
        runClient({QStringLiteral("probe"), slave.device(), QStringLiteral("--role"), QStringLiteral("Contametri")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("ACME MC32 at 9600,N,8,1: LeggiLunghezza 1234.56 (2 replies)\n"))
        << run.err.toStdString();
}

} // namespace
