// A failure reaches whoever acted: the client's exit status 3 and its
// reason for a zeroing the counter did not do, a reading scaled by a
// Divisore that is not a number and a model without a driver; `quorvex
// reload` prints what the load could not use and exits 4.
#include "tests/e2e/Harness.h"

#include "api/BusNames.h"
#include "sim/defined/ModbusRtuBus.h"
#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QDir>
#include <QFile>
#include <QProcess>

using namespace e2e;

namespace {

// Diagnostics.Read's problem for a generic operation without arguments.
QString readProblem(const QString &operation)
{
    return diagnostics(QStringLiteral("Read"), {operation, QVariant::fromValue(QVariantList())})
        .arguments()
        .value(1)
        .toString();
}

class Failures : public ServerTest {
protected:
    QString settingsFile() const { return configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex.ini"); }
    QString definitionFolder() const { return configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti"); }

    void writeFile(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
};

// A counter whose zero command writes a register it does not have: the
// unit answers with an exception, so the counter goes on counting.
TEST_F(Failures, AZeroingTheCounterRefusedSaysWhyAndClosesNoCoil)
{
    writeFile(definitionFolder() + QStringLiteral("/mc.ini"), R"([Strumento]
Marca=ACME
Modello=MC
Protocollo=MODBUS-RTU

[LeggiLunghezza]
Attesa=5000
Registro=30

[LeggiAltezza]
Attesa=5000
Registro=40

[AzzeraLunghezza]
Funzione=6
Attesa=5000
Registro=500
Valore=1
)");
    sim::ModbusRtuBus bus({1});
    bus.setRegister(1, QModbusDataUnit::HoldingRegisters, 40, 50);
    mapPort(5, bus.slavePath());
    configureRole("Contametri", "ACME", "MC", 5, "1");
    configureRole("Altezza", "ACME", "MC", 5, "1");
    setSetting("Altezza", "MisuraMedia", "true");
    setSetting("Altezza", "IntervalloDiCampionamento", "10");
    captureLog = true;
    startServer();
    // The sampler winds a coil of 45 with samples on the way.
    for (quint16 length : {0, 10, 20, 30, 45}) {
        bus.setRegister(1, QModbusDataUnit::HoldingRegisters, 30, length);
        ASSERT_TRUE(waitUntil([&] { return callDouble("LeggiLunghezza") == length; }));
    }

    const QString why =
        QStringLiteral("the counter did not zero: Modbus exception 2 (illegal data address) from unit 1");
    const ClientRun run = runClient({"AzzeraLunghezza"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, QStringLiteral("quorvex: AzzeraLunghezza: %1\n").arg(why));
    EXPECT_EQ(readProblem(QStringLiteral("AzzeraLunghezza")), why);
    const QString warning =
        QStringLiteral("quorvex.driver: AzzeraLunghezza: the counter did not zero (Modbus exception 2 "
                       "(illegal data address) from unit 1): the coil was not closed");
    EXPECT_TRUE(waitUntil([&] { return serverLog().count(warning) == 2; }, 5000)) << serverLog().toStdString();
    // The coil goes on: no record, the length as it was.
    QList<QVariantMap> coils;
    history(QStringLiteral("Coils"), {qint64(0), qint64(0), 0u}).arguments().value(0).value<QDBusArgument>() >> coils;
    EXPECT_TRUE(coils.isEmpty());
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 45);
    stopServer();
}

// What a load cannot use reaches the reading it spoils, and `quorvex reload`.
TEST_F(Failures, ADivisoreNotANumberUnknownKeysAndAModelWithoutDriverAreSaid)
{
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    scale->setWeightField("   12,340");
    // A definition that does not read, for the counter's model.
    writeFile(definitionFolder() + QStringLiteral("/w200.ini"),
              "[Strumento]\nMarca=ACME\nModello=W200\n[LeggiLunghezza]\nRichiesta=P\nFine=\"\\r\"\n");
    const QString refused = QStringLiteral("instrument definition %1/w200.ini was refused: [LeggiLunghezza] Formato is "
                                           "missing")
                                .arg(definitionFolder());
    const auto settings = [&](const QByteArray &divisore, const QByteArray &extra) {
        writeFile(settingsFile(),
                  "[Porte]\n3=" + QByteArray::fromStdString(scale->slavePath())
                      + "\n\n[Bilancia]\nMarca=BILANCIAI\nModello=D400\nPorta=3\nDivisore=" + divisore
                      + "\nSettaggio=9600,N,8,1\n" + extra);
    };
    settings("0,5", "");
    startServer(); // under en_US: the decimal mark is "."
    const QString divisore =
        QStringLiteral("[Bilancia] Divisore=\"0,5\" is not a number: readings are multiplied by 0");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_EQ(readProblem(QStringLiteral("LeggiPeso")), divisore);
    ClientRun run = runClient({"LeggiPeso"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, QStringLiteral("quorvex: LeggiPeso: %1\n").arg(divisore));

    // Keys the groups do not know, a group nobody here owns, and a counter
    // whose definition was refused.
    settings("0,5",
             "Divisor=1\n\n[Impianto]\nServr=broker\n\n[Altro]\nFoo=1\n\n"
             "[Contametri]\nMarca=ACME\nModello=W200\nPorta=3\n");
    run = runClient({"reload"});
    EXPECT_EQ(run.status, 4);
    for (const QString &line :
         {QStringLiteral("quorvex: reload: [Bilancia] Divisor is not a key of [Bilancia] and is not read; the nearest "
                         "known key is Divisore (in %1)\n")
              .arg(settingsFile()),
          QStringLiteral("quorvex: reload: [Impianto] Servr is not a key of [Impianto] and is not read; the nearest "
                         "known key is Server (in %1)\n")
              .arg(settingsFile()),
          QStringLiteral("quorvex: reload: [Bilancia] Divisore=\"0,5\" is not a number in the user's format"),
          QStringLiteral("quorvex: reload: instrument definition %1/w200.ini: [LeggiLunghezza] Formato is missing; it "
                         "is not used\n")
              .arg(definitionFolder())})
        EXPECT_TRUE(run.err.contains(line)) << line.toStdString() << "\nin:\n" << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("Altro"))) << run.err.toStdString();
    run = runClient({"LeggiLunghezza"});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("quorvex: LeggiLunghezza: Contametri: ACME W200 has no driver for "
                                                  "LeggiLunghezza (nearest known: ")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith(QStringLiteral("; %1)\n").arg(refused))) << run.err.toStdString();

    // Mended, the load is clean and the reading whole.
    settings("0.5", "");
    QDir(definitionFolder()).removeRecursively();
    run = runClient({"reload"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, "");
    run = runClient({"LeggiPeso"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "6.17\n");
    stopServer();
}

} // namespace
