// `quorvex probe` end to end: a D400 at 19200,N,8,1 is found at that speed
// and --apply makes LeggiPeso read it; a continuous scale is found by
// listening; models defined in files (text, Modbus) are found by their
// read requests, never a write; a probe of a polled role's port leaves its
// readings right and sends no zeroing, tare or service request; an empty
// port is exit status 3, and so is one whose answer no model matches, told
// as bytes that came back.
#include "tests/e2e/Harness.h"

#include "sim/defined/DefinedText.h"
#include "sim/defined/ModbusRtuBus.h"
#include "sim/instruments/ContinuousScale.h"
#include "sim/instruments/D400.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

using namespace e2e;

namespace {

struct ClientRun {
    int exitCode = -1;
    QString out, err;
};

ClientRun runClient(const QStringList &args, int timeoutMs = 150000)
{
    QProcess client;
    client.start(clientPath(), args);
    ClientRun run;
    if (!client.waitForFinished(timeoutMs)) {
        client.kill();
        client.waitForFinished();
    }
    run.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    run.out = QString::fromLocal8Bit(client.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(client.readAllStandardError());
    return run;
}

// The client run while this process's event loop goes on, for a simulator
// that lives in it.
ClientRun runClientServingEvents(const QStringList &args)
{
    QProcess client;
    QEventLoop loop;
    QObject::connect(&client, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(150000, &loop, &QEventLoop::quit);
    client.start(clientPath(), args);
    loop.exec();
    if (client.state() != QProcess::NotRunning) {
        client.kill();
        client.waitForFinished();
    }
    return {client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1,
            QString::fromLocal8Bit(client.readAllStandardOutput()),
            QString::fromLocal8Bit(client.readAllStandardError())};
}

// Requests that change an instrument: zeroings, the tare, the service handshake.
void expectOnlyReadRequests(const std::string &log)
{
    for (const char *write : {"XT\r",
                              "\x02"
                              "A\r",
                              "@R01\r", "<0262>", "@3\r", "\x05"})
        EXPECT_EQ(log.find(write), std::string::npos) << "a probe wrote " << QByteArray(write).toHex().toStdString();
}

class Probe : public ServerTest {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(clientPath()).isExecutable()); }
    void writeDefinition(const QString &name, const QByteArray &text)
    {
        const QString folder = configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti");
        QDir().mkpath(folder);
        QFile file(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

TEST_F(Probe, FindsAD400At19200AndApplyMakesLeggiPesoReadIt)
{
    auto d400 = sim::launch<sim::D400>();
    ASSERT_TRUE(d400->setLineSettings("19200,N,8,1"));
    d400->setWeightField("   12,340");
    startServer();

    const ClientRun run = runClient({QStringLiteral("probe"), QString::fromStdString(d400->slavePath()),
                                     QStringLiteral("--apply"), QStringLiteral("Bilancia")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QLatin1String("BILANCIAI D400 at 19200,N,8,1: LeggiPeso 12.34 (2 replies)")))
        << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String(" at 19200,N,8,1 ("))) << "progress lines: " << run.err.toStdString();
    expectOnlyReadRequests(d400->received());

    // Applied: the role reads the scale at the speed found.
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
    d400->setWeightField("    7,500");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 7.5);
}

TEST_F(Probe, FindsAContinuousScaleByListening)
{
    auto flytn = sim::launch<sim::Flytn>();
    flytn->setWeight(42.5);
    startServer();
    const ClientRun run = runClient({QStringLiteral("probe"), QString::fromStdString(flytn->slavePath()),
                                     QStringLiteral("--role"), QStringLiteral("Bilancia")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    // Its stream after another model's request is no answer of that model.
    EXPECT_EQ(run.out, QStringLiteral("EUROBIL FLYTN at 9600,N,8,1: LeggiPeso 42.5 (2 replies)\n"));
}

TEST_F(Probe, FindsAModelDefinedInAFile)
{
    const QByteArray text = "[Strumento]\nMarca=ACME\nModello=W200\nProtocollo=ASCII\nSettaggio=9600,N,8,1\n"
                            "[LeggiPeso]\nRichiesta=\"?W\\r\"\nFine=\"\\r\"\n"
                            "Formato=\"^W([ +-]?[0-9]+[.][0-9]+)kg\\r$\"\nEsempio=\"W+0012.50kg\\r\"\n";
    writeDefinition(QStringLiteral("acme-w200.ini"), text);
    quorvex::DefinitionProblem problem;
    const auto definition = quorvex::readDefinition(text, QStringLiteral("acme-w200.ini"), &problem);
    ASSERT_TRUE(definition) << problem.problem.toStdString();
    auto scale = sim::launch<sim::DefinedText>(*definition);
    scale->setNumber("+0025.00");
    startServer();
    const ClientRun run = runClient({QStringLiteral("probe"), QString::fromStdString(scale->slavePath()),
                                     QStringLiteral("--role"), QStringLiteral("Bilancia")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("ACME W200 at 9600,N,8,1: LeggiPeso 25 (2 replies)\n")) << run.err.toStdString();
}

// Only the read is sent: the zeroing's register keeps its value.
TEST_F(Probe, FindsADefinedModbusCounterWithoutWritingToIt)
{
    writeDefinition(QStringLiteral("acme-mc32.ini"),
                    "[Strumento]\nMarca=ACME\nModello=MC32\nProtocollo=MODBUS-RTU\n"
                    "Settaggio=19200,N,8,1\nIndirizzo=7\n"
                    "[LeggiLunghezza]\nFunzione=3\nRegistro=10\nTipo=UINT16\nFattore=0.5\n"
                    "[AzzeraLunghezza]\nFunzione=6\nRegistro=50\nValore=1\n");
    sim::ModbusRtuBus bus({7}, 0, "19200,N,8,1");
    bus.setRegister(7, QModbusDataUnit::HoldingRegisters, 10, 300);
    startServer();
    const ClientRun run = runClientServingEvents({QStringLiteral("probe"), QString::fromStdString(bus.slavePath()),
                                                  QStringLiteral("--role"), QStringLiteral("Contametri")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("ACME MC32 at 19200,N,8,1: LeggiLunghezza 150 (2 replies)\n"))
        << run.err.toStdString();
    EXPECT_EQ(bus.registerValue(7, QModbusDataUnit::HoldingRegisters, 50), 0);
}

TEST_F(Probe, ProbeOfAPolledRolesPortLeavesItsReadingsRight)
{
    auto d400 = sim::launch<sim::D400>();
    d400->setWeightField("   12,340");
    mapPort(3, d400->slavePath());
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    startServer();

    // A client reads the role all along while another probes its port.
    QProcess reader;
    reader.start(clientPath(), {QStringLiteral("--watch"), QStringLiteral("50"), QStringLiteral("LeggiPeso")});
    ASSERT_TRUE(reader.waitForStarted());
    const ClientRun run = runClient({QStringLiteral("probe"), QStringLiteral("3")});
    // The port is back at the role's settings.
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
    reader.terminate();
    reader.waitForFinished(5000);

    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QLatin1String("BILANCIAI D400 at 9600,N,8,1: LeggiPeso 12.34")))
        << run.out.toStdString();
    const QStringList readings =
        QString::fromLocal8Bit(reader.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_GE(readings.size(), 5);
    for (const QString &line : readings)
        EXPECT_TRUE(line.endsWith(QLatin1String("\t12.34"))) << line.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(reader.readAllStandardError()), QString());
    expectOnlyReadRequests(d400->received());
}

TEST_F(Probe, NothingOnThePortIsExitStatus3)
{
    auto d400 = sim::launch<sim::D400>();
    d400->setSilent(true);
    startServer();
    const ClientRun run = runClient({QStringLiteral("probe"), QString::fromStdString(d400->slavePath()),
                                     QStringLiteral("--role"), QStringLiteral("Altezza")});
    EXPECT_EQ(run.exitCode, 3) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.out, QString());
    EXPECT_TRUE(run.err.contains(QLatin1String("nothing answered"))) << run.err.toStdString();
}

// The instrument answers the defined model's request in pounds, the model
// reads kilograms: bytes came back, no model matched them.
TEST_F(Probe, AnAnswerNoModelMatchesIsToldAsBytesThatCameBack)
{
    const QByteArray head = "[Strumento]\nMarca=ACME\nModello=W200\nProtocollo=ASCII\nSettaggio=9600,N,8,1\n"
                            "[LeggiPeso]\nRichiesta=\"?W\\r\"\nFine=\"\\r\"\n";
    writeDefinition(QStringLiteral("acme-w200.ini"),
                    head + "Formato=\"^W([ +-]?[0-9]+[.][0-9]+)kg\\r$\"\nEsempio=\"W+0012.50kg\\r\"\n");
    const QByteArray pounds = head + "Formato=\"^W([ +-]?[0-9]+[.][0-9]+)lb\\r$\"\nEsempio=\"W+0012.50lb\\r\"\n";
    quorvex::DefinitionProblem problem;
    const auto definition = quorvex::readDefinition(pounds, QStringLiteral("pounds.ini"), &problem);
    ASSERT_TRUE(definition) << problem.problem.toStdString();
    auto scale = sim::launch<sim::DefinedText>(*definition);
    startServer();
    const ClientRun run = runClient({QStringLiteral("probe"), QString::fromStdString(scale->slavePath()),
                                     QStringLiteral("--role"), QStringLiteral("Bilancia")});
    EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
    EXPECT_EQ(run.out, QString());
    EXPECT_TRUE(run.err.contains(QLatin1String("bytes came back on"))
                && run.err.contains("at 9600,N,8,1 (\"W+0012.50lb\\r\")")
                && run.err.contains("no known model matched them") && run.err.contains("docs/instruments.md"))
        << run.err.toStdString();
}

} // namespace
