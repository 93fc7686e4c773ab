// Instruments defined in files, end to end: a definition next to the
// settings, a simulator that serves it (text examples, or Modbus RTU units of
// Qt Serial Bus), the generic operations through D-Bus.
#include "tests/e2e/Harness.h"

#include "sim/defined/DefinedText.h"
#include "sim/defined/ModbusRtuBus.h"

#include <QDBusArgument>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

using namespace e2e;
using quorvex::InstrumentDefinition;

namespace {

const char kScale[] = R"([Strumento]
Marca=ACME
Modello=W200
Protocollo=ASCII          ; ASCII or MODBUS-RTU
Settaggio=9600,N,8,1

[LeggiPeso]
Richiesta="\x02P\r"
Fine="\r"
Formato="^\x02([ +-]?[0-9]+[.,][0-9]+)kg\r$"
Decimale=.
Esempio="\x02+0012.50kg\r"
Attesa=1000
)";

class Defined : public ServerTest {
protected:
    std::vector<std::unique_ptr<InstrumentDefinition>> definitions;

    QString folder() const { return configHome() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti"); }

    // Writes the definition file and gives the model it defines.
    const InstrumentDefinition &define(const QString &name, const QByteArray &text)
    {
        QDir().mkpath(folder());
        QFile file(folder() + QLatin1Char('/') + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        quorvex::DefinitionProblem problem;
        definitions.push_back(quorvex::readDefinition(text, name, &problem));
        if (!definitions.back())
            ADD_FAILURE() << name.toStdString() << ": " << problem.problem.toStdString();
        return *definitions.back();
    }
};

TEST_F(Defined, TextScaleReadsScaledAndABrokenOrTakenDefinitionIsOneWarningEach)
{
    auto scale = sim::launch<sim::DefinedText>(define(QStringLiteral("acme-w200.ini"), kScale));
    scale->setNumber("+0025.00");
    QDir().mkpath(folder());
    // A pattern that does not compile, and a file that takes a built-in name.
    QFile broken(folder() + QStringLiteral("/broken.ini"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray(kScale).replace("W200", "W300").replace("Formato=\"^", "Formato=\"^(("));
    broken.close();
    QFile taken(folder() + QStringLiteral("/d400.ini"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write(QByteArray(kScale).replace("ACME", "BILANCIAI").replace("W200", "D400"));
    taken.close();

    mapPort(3, scale->slavePath());
    configureRole("Bilancia", "acme", "w200", 3, "0,5");
    configureRole("Contametri", "ACME", "W300", 3);
    captureLog = true;
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5);
    EXPECT_DOUBLE_EQ(callDouble("LeggiTara"), 0) << "the definition serves no tare";

    EXPECT_TRUE(waitUntil([this] { return serverLog().contains(QStringLiteral("Servizio:")); }, 5000));
    const QString log = serverLog();
    EXPECT_EQ(log.count(QStringLiteral("broken.ini")), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("broken.ini: [LeggiPeso] Formato is not a valid pattern")))
        << log.toStdString();
    EXPECT_TRUE(
        log.contains(QStringLiteral("d400.ini: [Strumento] Marca/Modello BILANCIAI D400 is already a built-in model")))
        << log.toStdString();

    // The client lists the same models from the same folders.
    QProcess models;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    models.setProcessEnvironment(env);
    models.start(clientPath(), {QStringLiteral("models")});
    ASSERT_TRUE(models.waitForFinished(10000));
    const QStringList lines = QString::fromUtf8(models.readAllStandardOutput()).split(QLatin1Char('\n'));
    const auto line = [&](const QString &start) {
        return lines.filter(QRegularExpression(QLatin1Char('^') + start)).value(0);
    };
    EXPECT_TRUE(line(QStringLiteral("BILANCIAI +D400 +built-in +LeggiPeso,LeggiTara +9600,N,8,1")).size())
        << lines.join('\n').toStdString();
    EXPECT_TRUE(line(QStringLiteral("ACME +W200 +") + QRegularExpression::escape(folder())
                     + QStringLiteral("/acme-w200.ini +LeggiPeso +9600,N,8,1"))
                    .size())
        << lines.join('\n').toStdString();
    EXPECT_TRUE(line(QStringLiteral("ACME +W300")).isEmpty());
    EXPECT_TRUE(QString::fromUtf8(models.readAllStandardError()).contains(QStringLiteral("broken.ini")));

    // The broken file mended and the scale moved to it: `quorvex reload`
    // makes the running server use it.
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write(QByteArray(kScale).replace("W200", "W300"));
    broken.close();
    configureRole("Bilancia", "ACME", "W300", 3, "2");
    const qint64 pid = m_server.processId();
    QProcess reload;
    reload.start(clientPath(), {QStringLiteral("reload")});
    ASSERT_TRUE(reload.waitForFinished(10000));
    // What the load still refuses is said to whoever reloaded.
    const QString reloadErr = QString::fromLocal8Bit(reload.readAllStandardError());
    EXPECT_EQ(reload.exitCode(), 4) << reloadErr.toStdString();
    EXPECT_TRUE(reloadErr.contains(QStringLiteral("quorvex: reload: instrument definition %1/d400.ini: [Strumento] "
                                                  "Marca/Modello BILANCIAI D400 is already a built-in model")
                                       .arg(folder())))
        << reloadErr.toStdString();
    EXPECT_FALSE(reloadErr.contains(QStringLiteral("broken.ini"))) << reloadErr.toStdString();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 50);
    EXPECT_EQ(m_server.processId(), pid);
}

TEST_F(Defined, ContinuousTextScale)
{
    auto scale = sim::launch<sim::DefinedText>(define(QStringLiteral("stream.ini"), R"([Strumento]
Marca=ACME
Modello=S1

[LeggiPeso]
Fine="\r\n"
Formato="^ST,GS,([+-][0-9]+,[0-9]+) kg\r\n$"
Decimale=,
Esempio="ST,GS,+001,250 kg\r\n"
Tentativi=3
)"));
    mapPort(4, scale->slavePath());
    configureRole("Bilancia", "ACME", "S1", 4);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 1.25);
    scale->setNumber("-002,500");
    ASSERT_TRUE(waitUntil([&] { return callDouble("LeggiPeso") == -2.5; }));
    EXPECT_TRUE(scale->received().empty()) << "a continuous scale is only listened to";
}

// The 32-bit length 123456 (0x0001E240) in the registers as each order puts it.
TEST_F(Defined, ModbusCounterReadsEachWordOrderAndIsZeroed)
{
    define(QStringLiteral("counter.ini"), R"([Strumento]
Marca=ACME
Modello=MC32
Protocollo=MODBUS-RTU
Settaggio=19200,N,8,1
Indirizzo=7

[LeggiPeso]
Funzione=3
Attesa=5000
Registro=10
Tipo=UINT32
Ordine=ABCD
Fattore=0.01

[LeggiTara]
Funzione=4
Attesa=5000
Registro=20
Tipo=INT32
Ordine=CDAB
Fattore=0.01

[LeggiLunghezza]
Attesa=5000
Registro=30
Tipo=UINT32
Ordine=BADC
Fattore=0.01

[LeggiAltezza]
Attesa=5000
Registro=40
Tipo=UINT32
Ordine=DCBA
Fattore=0.01

[AzzeraLunghezza]
Funzione=6
Attesa=5000
Registro=50
Valore=1
)");
    sim::ModbusRtuBus bus({7}, 0, "19200,N,8,1");
    using T = QModbusDataUnit;
    bus.setRegister(7, T::HoldingRegisters, 10, 0x0001), bus.setRegister(7, T::HoldingRegisters, 11, 0xE240);
    bus.setRegister(7, T::InputRegisters, 20, 0xE240), bus.setRegister(7, T::InputRegisters, 21, 0x0001);
    bus.setRegister(7, T::HoldingRegisters, 30, 0x0100), bus.setRegister(7, T::HoldingRegisters, 31, 0x40E2);
    bus.setRegister(7, T::HoldingRegisters, 40, 0x40E2), bus.setRegister(7, T::HoldingRegisters, 41, 0x0100);
    mapPort(5, bus.slavePath());
    for (const char *role : {"Bilancia", "Contametri", "Altezza"})
        configureRole(role, "ACME", "MC32", 5, "1", "19200,N,8,1");
    startServer();
    EXPECT_NEAR(callDouble("LeggiPeso"), 1234.56, 1e-9);
    EXPECT_NEAR(callDouble("LeggiTara"), 1234.56, 1e-9);
    EXPECT_NEAR(callDouble("LeggiLunghezza"), 1234.56, 1e-9);
    EXPECT_NEAR(callDouble("LeggiAltezza"), 1234.56, 1e-9);
    EXPECT_EQ(bus.registerValue(7, T::HoldingRegisters, 50), 0);
    call(QStringLiteral("AzzeraLunghezza"));
    EXPECT_EQ(bus.registerValue(7, T::HoldingRegisters, 50), 1);
}

// (Attesa is long for a loaded machine: it also bounds the wait for the
// line's turn.) Two counters on one RS-485 line, asked at once; then an exception reply
// and a spoiled CRC give 0 and say why.
TEST_F(Defined, TwoModbusUnitsShareALineAndFaultsGiveZeroAndAReason)
{
    const QByteArray unit = R"([Strumento]
Marca=ACME
Modello=U1
Protocollo=MODBUS-RTU
Indirizzo=1

[LeggiPeso]
Attesa=5000
Registro=0

[LeggiLunghezza]
Attesa=5000
Registro=0
)";
    define(QStringLiteral("u1.ini"), unit);
    define(QStringLiteral("u2.ini"), QByteArray(unit).replace("U1", "U2").replace("Indirizzo=1", "Indirizzo=2"));
    define(QStringLiteral("u3.ini"), QByteArray(unit).replace("U1", "U3").replace("Registro=0", "Registro=500"));
    sim::ModbusRtuBus bus({1, 2});
    bus.setRegister(1, QModbusDataUnit::HoldingRegisters, 0, 111);
    bus.setRegister(2, QModbusDataUnit::HoldingRegisters, 0, 222);
    mapPort(6, bus.slavePath());
    configureRole("Bilancia", "ACME", "U1", 6);
    configureRole("Contametri", "ACME", "U2", 6);
    startServer();
    for (int round = 0; round < 5; ++round) {
        const auto ask = [](const char *method) {
            QDBusConnection bus = QDBusConnection::sessionBus();
            return asyncCall(bus, QLatin1String(method));
        };
        QDBusPendingCall weight = ask("LeggiPeso"), length = ask("LeggiLunghezza");
        ASSERT_TRUE(waitUntil([&] { return weight.isFinished() && length.isFinished(); }));
        EXPECT_DOUBLE_EQ(weight.reply().arguments().value(0).toDouble(), 111);
        EXPECT_DOUBLE_EQ(length.reply().arguments().value(0).toDouble(), 222);
    }

    bus.spoilNextReply();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_EQ(portInfo(6).value("lastExchangeError").toString(), QStringLiteral("Modbus reply with a bad CRC"));
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 111) << "the next reading is whole again";

    stopServer();
    configureRole("Bilancia", "ACME", "U3", 6); // a register unit 1 does not have
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_EQ(portInfo(6).value("lastExchangeError").toString(),
              QStringLiteral("Modbus exception 2 (illegal data address) from unit 1"));
}

} // namespace
