// The quorvex command-line client end to end: the client program -> private
// session bus -> server -> D400 simulator, checking what it prints and its
// exit status.
#include "tests/e2e/Harness.h"

#include "api/BusNames.h"
#include "api/Operations.h"
#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>

using namespace e2e;

namespace {

class Cli : public ServerTest {
protected:
    sim::Handle<sim::D400> d400 = sim::launch<sim::D400>();

    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(clientPath()).isExecutable()) << "no client at " << clientPath().toStdString();
        mapPort(3, d400->slavePath());
        d400->setWeightField("   12,340");
        d400->setTare(2.5);
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
    }

    // The server runs while some client holds an instance and quits when the
    // last one lets go; each client run is a connection of its own that comes
    // and goes. This test's own connection holds one, as a line program would.
    void startHeldServer()
    {
        startServer();
        EXPECT_DOUBLE_EQ(callDouble("LeggiAltezzaAlPuntoDiOsservazione"), 0);
    }

    // Runs the client to its end under an Italian locale, so a number
    // printed with the locale's comma would show.
    static ClientRun runClient(const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("it_IT.UTF-8"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("it_IT.UTF-8"));
        return e2e::runClient(args, env);
    }
};

#define EXPECT_PRINTS(args, text)                                                                                      \
    do {                                                                                                               \
        const ClientRun run = runClient(args);                                                                         \
        EXPECT_EQ(run.status, 0) << run.err.toStdString();                                                             \
        EXPECT_EQ(run.out, QStringLiteral(text)) << QStringList(args).join(' ').toStdString();                         \
        EXPECT_EQ(run.err, QString());                                                                                 \
    } while (0)

TEST_F(Cli, ReadingsByNameAndByDispatchIdentifier)
{
    startHeldServer();
    EXPECT_PRINTS(QStringList({"LeggiPeso"}), "12.34\n");
    EXPECT_PRINTS(QStringList({"--id", "0x60030002"}), "12.34\n");
    EXPECT_PRINTS(QStringList({"--id", "1610809346"}), "12.34\n"); // the same in decimal
    EXPECT_PRINTS(QStringList({"LeggiTara"}), "2.5\n");
    // The driver directly, with the server's port 3 or a device path the
    // server opens for the one call (port 3's device is locked by the server).
    EXPECT_PRINTS(QStringList({"LeggiPeso_BILANCIAI_D400", "3"}), "12.34\n");
    EXPECT_PRINTS(QStringList({"--id", "0x6003000f", "3"}), "12.34\n");
    auto second = sim::launch<sim::D400>();
    second->setTare(0.125);
    const QString ref = QString::fromStdString(second->slavePath()) + QStringLiteral(":9600,N,8,1");
    EXPECT_PRINTS(QStringList({"LeggiTara_BILANCIAI_D400", ref}), "0.125\n");
    EXPECT_PRINTS(QStringList({"--id", "0x60030023", ref}), "0.125\n");
}

TEST_F(Cli, OptionalBooleanOmittedOrGivenReachesTheServer)
{
    // No counter is configured, so the length is 0; a wrong signature would
    // be refused by the server with InvalidArgument instead.
    startHeldServer();
    // By name the client also says why there is no reading, and exits with 3.
    for (const QStringList &args : {QStringList({"LeggiLunghezza"}), QStringList({"LeggiLunghezza", "true"})}) {
        const ClientRun run = runClient(args);
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.out, "0\n");
        EXPECT_EQ(run.err, "quorvex: LeggiLunghezza: Contametri is not configured (no Marca or Modello)\n");
    }
    EXPECT_PRINTS(QStringList({"--id", "0x60030004", "1"}), "0\n");
    EXPECT_PRINTS(QStringList({"--id", "0x60030004"}), "0\n");
    // Operations without result print nothing, by name and through Invoke.
    EXPECT_PRINTS(QStringList({"ShowSampler", "false"}), "");
    EXPECT_PRINTS(QStringList({"--id", "0x6003000a"}), "");
}

TEST_F(Cli, ServerErrorsExitWithOneAndTheErrorName)
{
    d400->setWeightField("  ab,cdef");
    startHeldServer();
    ClientRun run = runClient({"LeggiPeso_BILANCIAI_D400", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.startsWith("quorvex: com.velkaro.Quorvex.Error.TypeMismatch: 13: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << "one line, nothing else: " << run.err.toStdString();

    run = runClient({"--id", "0x6003000f", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith("quorvex: com.velkaro.Quorvex.Error.TypeMismatch: 13: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << "one line, nothing else: " << run.err.toStdString();

    run = runClient({"LeggiPeso_BILANCIAI_D400", "77"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith("quorvex: com.velkaro.Quorvex.Error.NotFound: ")) << run.err.toStdString();

    // An identifier the client does not know goes to the server, which refuses it.
    run = runClient({"--id", "0x12345678"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith("quorvex: com.velkaro.Quorvex.Error.NotFound: ")) << run.err.toStdString();
}

TEST_F(Cli, UsageErrorsExitWithTwoAndCallNothing)
{
    startHeldServer();
    const QList<QStringList> cases = {
        {"LegiPeso"}, // unknown operation
        {"LeggiPeso_BILANCIAI_D400"}, // required argument missing
        {"LeggiPeso", "3"}, // one argument too many
        {"LeggiAltezza", "maybe"}, // not a Boolean
        {"--id", "0x6003000fz", "3"}, // not an identifier
        {"--timeout", "0", "LeggiPeso"}, // no time to wait
        {"--frobnicate", "LeggiPeso"}, // unknown option
        {}, // nothing to call
    };
    for (const QStringList &args : cases) {
        const ClientRun run = runClient(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("quorvex: ")) << run.err.toStdString();
    }
    EXPECT_TRUE(runClient({"LegiPeso"}).err.contains("did you mean 'LeggiPeso'?"));
    EXPECT_TRUE(d400->received().empty()) << "a usage error must not reach the scale";
}

TEST_F(Cli, ListShowsEveryOperationWithoutAServer)
{
    const ClientRun run = runClient({"--list"});
    EXPECT_EQ(run.status, 0);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 35);
    EXPECT_EQ(lines.size(), qsizetype(quorvex::operations().size()));
    EXPECT_TRUE(lines.contains(" 3  0x60030002  LeggiPeso() -> double")) << run.out.toStdString();

    const ClientRun help = runClient({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("--watch")) << help.out.toStdString();
}

TEST_F(Cli, TimeoutEndsTheWaitForASilentScale)
{
    // The server waits over two seconds for the silent scale before it
    // answers; the client gives up after half a second.
    d400->setSilent(true);
    startHeldServer();
    ClientRun run = runClient({"--timeout", "0.5", "LeggiPeso_BILANCIAI_D400", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quorvex: no answer from the Quorvex server within 0.5 s (--timeout SECS waits longer)\n");
    // -v adds the bus's own error.
    run = runClient({"-v", "--timeout", "0.5", "LeggiPeso_BILANCIAI_D400", "3"});
    EXPECT_TRUE(run.err.contains("\nquorvex: D-Bus error: org.freedesktop.DBus.Error.NoReply: "))
        << run.err.toStdString();
}

TEST_F(Cli, EmptyVariantResultPrintsEmpty)
{
    // BMC 507 readings are variants; with nothing on the line the reading is
    // the empty value. A quiet pty: the D400 simulator only speaks when asked.
    auto quiet = sim::launch<sim::D400>();
    startHeldServer();
    const ClientRun run = runClient({"LeggiPeso_BMC_507", QString::fromStdString(quiet->slavePath())});
    if (run.err.contains("no driver for this instrument"))
        GTEST_SKIP() << "this build has no BMC 507 driver";
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "Empty\n");
}

TEST_F(Cli, WatchPrintsTimestampedReadingsUntilTerminated)
{
    startHeldServer();
    QProcess watcher;
    watcher.start(clientPath(), {"--watch", "100", "LeggiPeso"});
    ASSERT_TRUE(watcher.waitForStarted());
    QString out;
    const bool three = waitUntil(
        [&] {
            out += QString::fromLocal8Bit(watcher.readAllStandardOutput());
            return out.count('\n') >= 3;
        },
        60000);
    watcher.terminate();
    ASSERT_TRUE(watcher.waitForFinished(10000));
    // Terminating the watch let its instance go; the server keeps serving.
    EXPECT_PRINTS(QStringList({"LeggiPeso"}), "12.34\n");
    EXPECT_TRUE(three) << out.toStdString();
    EXPECT_EQ(watcher.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watcher.exitCode(), 0) << watcher.readAllStandardError().toStdString();
    out += QString::fromLocal8Bit(watcher.readAllStandardOutput());
    const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\t12\\.34$"));
    for (const QString &l : out.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.match(l).hasMatch()) << l.toStdString();
}

TEST_F(Cli, AFailedReadingSaysWhyWhereTheOperationItselfStillGivesZero)
{
    startHeldServer();
    const auto read = [this] {
        const QDBusMessage reply =
            diagnostics(QStringLiteral("Read"), {QStringLiteral("LeggiPeso"), QVariant::fromValue(QVariantList())});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return std::pair(qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant().toDouble(),
                         reply.arguments().value(1).toString());
    };
    EXPECT_EQ(read(), std::pair(12.34, QString()));
    EXPECT_PRINTS(QStringList({"LeggiPeso"}), "12.34\n");

    d400->setSilent(true);
    EXPECT_EQ(read(), std::pair(0.0, QStringLiteral("no answer within 2000 ms")));
    const ClientRun run = runClient({"LeggiPeso"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "0\n");
    EXPECT_EQ(run.err, "quorvex: LeggiPeso: no answer within 2000 ms\n");
    EXPECT_EQ(callDouble("LeggiPeso"), 0) << "the operation itself still answers 0";
}

TEST_F(Cli, SighupAndReloadReadTheSettingsAgainInTheSameServer)
{
    captureLog = true;
    // Its standard error is the journal: each line carries its priority.
    qputenv("JOURNAL_STREAM", "8:12345");
    startHeldServer();
    qunsetenv("JOURNAL_STREAM");
    const qint64 pid = m_server.processId();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);

    setSetting("Bilancia", "Divisore", "2");
    ASSERT_EQ(::kill(pid_t(pid), SIGHUP), 0);
    EXPECT_TRUE(waitUntil(
        [this] { return serverLog().contains("<6>quorvex.server: reloading the configuration (SIGHUP)"); }, 5000))
        << serverLog().toStdString();
    EXPECT_TRUE(serverLog().startsWith("<6>quorvex.server: quorvexd ")) << serverLog().toStdString();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 24.68);

    setSetting("Bilancia", "Divisore", "0.5");
    EXPECT_PRINTS(QStringList({"reload"}), "");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 6.17);
    EXPECT_TRUE(serverRunning());
    EXPECT_EQ(m_server.processId(), pid);
}

} // namespace
