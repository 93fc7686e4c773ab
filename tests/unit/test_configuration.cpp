// Loading the configuration from a real settings file into device records
// bound to port objects (in-memory ports, so no hardware is needed).
#include "api/opcua/FaceSettings.h"
#include "app/CoilRecorder.h"
#include "common/AutomationError.h"
#include "feed/FeedSettings.h"
#include "line/Conversions.h"
#include "line/Line.h"
#include "line/SettingsStore.h"
#include "support/MemoryPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quorvex;

TEST(Conversions, WholeNumbersRoundHalvesToEvenWithinSixteenBits)
{
    QLocale::setDefault(QLocale(QLocale::Italian));
    EXPECT_EQ(toWholeNumber("3"), 3);
    EXPECT_EQ(toWholeNumber("2,5"), 2);
    EXPECT_EQ(toWholeNumber("3,5"), 4);
    EXPECT_EQ(toWholeNumber("-2,5"), -2);
    EXPECT_EQ(toWholeNumber("32767"), 32767);
    EXPECT_EQ(toWholeNumber("-32768"), -32768);
    EXPECT_FALSE(toWholeNumber("32768"));
    EXPECT_FALSE(toWholeNumber("32767,5")); // rounds to 32768
    EXPECT_FALSE(toWholeNumber("COM3"));
    EXPECT_FALSE(toWholeNumber(""));
    EXPECT_EQ(toDecimal("0,001"), 0.001);
    QLocale::setDefault(QLocale(QLocale::English));
    EXPECT_EQ(toDecimal("0.001"), 0.001);
    EXPECT_FALSE(toDecimal(""));
    EXPECT_FALSE(toDecimal("abc"));
}

TEST(Conversions, Booleans)
{
    EXPECT_EQ(toBoolean("1"), true);
    EXPECT_EQ(toBoolean("0"), false);
    EXPECT_EQ(toBoolean("-1"), true);
    EXPECT_EQ(toBoolean("True"), true);
    EXPECT_EQ(toBoolean("false"), false);
    EXPECT_FALSE(toBoolean(""));
    EXPECT_FALSE(toBoolean("yes"));
}

namespace {

class Configuration : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::vector<std::shared_ptr<MemoryPort>> made;
    Line server{[this](const QString &) {
        auto port = std::make_shared<MemoryPort>();
        made.push_back(port);
        return port;
    }};

    Configuration()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QLocale::setDefault(QLocale(QLocale::English));
    }
    ~Configuration() override { QLocale::setDefault(QLocale(QLocale::English)); }

    void set(const char *group, const char *key, const char *value)
    {
        SettingsStore().setValue(QLatin1String(group), QLatin1String(key), QLatin1String(value));
    }
    Device dev(const char *key) { return server.device(QLatin1String(key)); }
};

TEST_F(Configuration, EmptyStoreGivesDefaultsAndOpensNoPort)
{
    EXPECT_THROW(server.device("BIL"), std::exception) << "nothing is loaded before the first load";
    server.CaricaDispositivi();
    for (const char *key : {"BIL", "CTM", "ALT", "SERV"}) {
        const Device d = dev(key);
        EXPECT_TRUE(d.Marca.isEmpty());
        EXPECT_EQ(d.Porta, 0);
        EXPECT_TRUE(d.Impostazioni.isEmpty());
        EXPECT_EQ(d.Divisore, qstrcmp(key, "SERV") == 0 ? 0 : 1) << key;
        EXPECT_EQ(d.port, nullptr) << key << ": no port number, no port";
    }
    // Element 0 is only the template of new port objects: never opened.
    EXPECT_EQ(made.size(), 1u);
    const PortRef zero = server.portHost()->element(0);
    EXPECT_FALSE(zero->PortOpen());
    EXPECT_EQ(zero->CommPort(), 1);
    EXPECT_EQ(zero->Settings(), "9600,N,8,1");
    EXPECT_THROW(server.resolvePort("0"), AutomationError) << "port number 0 is no port object";
    EXPECT_FALSE(server.height().MisuraMedia);
    EXPECT_DOUBLE_EQ(server.height().IntervalloDiCampionamento, 0.2);
    EXPECT_EQ(server.height().DistanzaSensoreArrotolatore, 0);
    EXPECT_THROW(server.device("XYZ"), std::exception);
}

TEST_F(Configuration, ValuesConvertAndBadValuesFallBack)
{
    QLocale::setDefault(QLocale(QLocale::Italian));
    set("Bilancia", "Marca", "BILANCIAI");
    set("Bilancia", "Modello", "D400");
    set("Bilancia", "Porta", "3");
    set("Bilancia", "Settaggio", "19200,E,7,1");
    set("Bilancia", "Divisore", "0,001");
    set("Contametri", "Porta", "COM4"); // a name, not a number
    set("Contametri", "Divisore", ""); // present but empty
    set("Altezza", "Porta", "-2"); // no port object
    set("Altezza", "MisuraMedia", "1");
    set("Altezza", "DistanzaSensoreArrotolatore", "12,5");
    set("Servizio", "Porta", "3"); // shares the scale's port
    set("Servizio", "Settaggio", "junk");
    server.CaricaDispositivi();

    EXPECT_EQ(dev("BIL").Marca, "BILANCIAI");
    EXPECT_DOUBLE_EQ(dev("BIL").Divisore, 0.001);
    EXPECT_EQ(dev("BIL").port->CommPort(), 3);
    EXPECT_EQ(dev("BIL").port->Settings(), "19200,E,7,1") << "refused text keeps the earlier role's settings";
    EXPECT_EQ(dev("SERV").port, dev("BIL").port);
    EXPECT_EQ(dev("CTM").Porta, 0);
    EXPECT_EQ(dev("CTM").Divisore, 0);
    EXPECT_EQ(dev("CTM").port, nullptr) << "a port name instead of a number binds no port";
    EXPECT_EQ(dev("ALT").Porta, -2);
    EXPECT_EQ(dev("ALT").port, nullptr);
    EXPECT_TRUE(server.height().MisuraMedia);
    EXPECT_DOUBLE_EQ(server.height().DistanzaSensoreArrotolatore, 12.5);
}

namespace {
QStringList g_messages;
void keepMessage(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    g_messages << QStringLiteral("%1: %2").arg(QLatin1String(context.category), text);
}
void keepWarning(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        keepMessage(type, context, text);
}
} // namespace

TEST_F(Configuration, WhatCannotBeUsedIsLoggedWithWhatIsUsedInstead)
{
    set("bilancia", "Marca", "BILANCIAI"); // a section in the wrong case is not read
    set("Altezza ", "Porta", "5"); // nor one with a space after its name
    set("Contametri", "modello", "1"); // nor a key
    set("Contametri", "Marca", "CTM");
    set("Contametri", "Porta", "3");
    set("Contametri", "Settaggio", "9600,Z,8,1");
    set("Altezza", "IntervalloDiCampionamento", "0,5");
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    server.CaricaDispositivi();
    qInstallMessageHandler(previous);
    const QString log = g_messages.join(QLatin1Char('\n'));
    for (const char *line :
         {"quorvex.config: section [bilancia] is not read: the name is [Bilancia], in that case",
          "quorvex.config: section [Altezza ] is not read: the name is [Altezza], without spaces",
          "quorvex.config: [Contametri] modello is not read: the key is Modello, in that case",
          "quorvex.config: [Contametri] Settaggio=\"9600,Z,8,1\" is not line settings such as 9600,N,8,1: the port "
          "keeps 9600,N,8,1",
          "quorvex.config: Contametri: CTM , no driver named LeggiLunghezza_CTM_ or AzzeraLunghezza_CTM_ (nearest "
          "known: CTM 1",
          "quorvex.config: [Altezza] IntervalloDiCampionamento=\"0,5\" is not a number in the user's format (en_US, "
          "decimal mark \".\"): 0 is used instead",
          "quorvex.config: Bilancia: not configured"})
        EXPECT_TRUE(log.contains(QLatin1String(line))) << line << "\nin:\n" << log.toStdString();
}

TEST_F(Configuration, TheShippedExampleReadsWithoutAWarningUnderEveryLocale)
{
    const QString path = SettingsStore().fileName();
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEX_SOURCE_DIR "/data/Quorvex.ini.example"), path));
    for (const char *name : {"it_IT", "de_DE", "en_US", "C"}) {
        QLocale::setDefault(QLocale(QLatin1String(name)));
        g_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
        server.CaricaDispositivi();
        readFeedSettings(server.loadedSettings());
        readOpcuaFaceSettings(server.loadedSettings());
        daysToKeep(server.loadedSettings());
        qInstallMessageHandler(previous);
        EXPECT_TRUE(g_messages.isEmpty()) << name << ":\n" << g_messages.join('\n').toStdString();
        EXPECT_EQ(dev("BIL").Marca, "BILANCIAI") << name;
        EXPECT_DOUBLE_EQ(server.height().IntervalloDiCampionamento, 0.2) << name;
    }
}

TEST_F(Configuration, LineSettingsWithCommasRoundTripAndHandTypedOnesRead)
{
    SettingsStore().setValue("Bilancia", "Settaggio", "4800,O,8,2");
    EXPECT_EQ(SettingsStore().value("Bilancia", "Settaggio"), "4800,O,8,2");
    // An unquoted value typed by hand reads as the same text.
    {
        QSettings raw(QSettings::IniFormat, QSettings::UserScope, "Velkaro s.r.l.", "Quorvex");
        raw.setValue("Contametri/Settaggio", QStringList{"2400", "N", "8", "1"});
    }
    EXPECT_EQ(SettingsStore().value("Contametri", "Settaggio"), "2400,N,8,1");
    EXPECT_FALSE(SettingsStore().value("Contametri", "Marca").has_value());
}

TEST_F(Configuration, ReloadKeepsOpenPortsAndMovesRoles)
{
    set("Bilancia", "Porta", "3");
    set("Bilancia", "Settaggio", "9600,N,8,1");
    set("Altezza", "MisuraMedia", "1");
    server.CaricaDispositivi();
    const PortRef three = dev("BIL").port;
    three->setInputMode(PortControl::Binary);
    three->setPortOpen(false);
    three->setPortOpen(true);

    // New line settings on the same port: applied at once, port not closed.
    set("Bilancia", "Settaggio", "19200,N,8,1");
    set("Altezza", "MisuraMedia", ""); // empty on reload: the old value stays
    server.CaricaDispositivi();
    EXPECT_EQ(dev("BIL").port, three);
    EXPECT_TRUE(three->PortOpen());
    EXPECT_EQ(three->Settings(), "19200,N,8,1");
    EXPECT_TRUE(server.height().MisuraMedia);

    // The scale moves to port 4: both are open, only 4 is used.
    set("Bilancia", "Porta", "4");
    server.CaricaDispositivi();
    EXPECT_NE(dev("BIL").port, three);
    EXPECT_EQ(dev("BIL").port->CommPort(), 4);
    EXPECT_TRUE(dev("BIL").port->PortOpen());
    EXPECT_TRUE(three->PortOpen());
}

TEST_F(Configuration, LastInstanceGoneClosesAndRetiresEveryPort)
{
    set("Bilancia", "Porta", "3");
    server.CaricaDispositivi();
    bool gone = false;
    QObject::connect(&KeepAlive::process(), &KeepAlive::lastOneGone, [&] { gone = true; });
    server.instanceCreated();
    server.instanceCreated();
    server.instanceDestroyed();
    EXPECT_TRUE(dev("BIL").port->PortOpen()) << "one client left, the ports stay open";
    server.instanceDestroyed();
    EXPECT_EQ(server.portHost(), nullptr);
    EXPECT_FALSE(dev("BIL").port->PortOpen());
    EXPECT_THROW(dev("BIL").port->setPortOpen(true), std::exception) << "records keep a dead port object";
    EXPECT_TRUE(gone) << "nothing holds the process any more";

    // The next load builds a new port host with new port objects.
    server.CaricaDispositivi();
    EXPECT_TRUE(dev("BIL").port->PortOpen());
}

} // namespace

TEST_F(Configuration, APortsDeviceIsTheOneOfTheLastLoad)
{
    Line serial; // real serial ports: none of these devices exists, so none opens
    set("Bilancia", "Porta", "3");
    set("Porte", "3", "/nonexistent/first");
    serial.CaricaDispositivi();
    const PortRef port = serial.device(Role::Bilancia).port;
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->devicePath(), "/nonexistent/first");
    set("Porte", "3", "/nonexistent/second");
    EXPECT_EQ(port->devicePath(), "/nonexistent/first") << "a [Porte] change waits for the next load";
    serial.CaricaDispositivi();
    EXPECT_EQ(port->devicePath(), "/nonexistent/second");
    set("Porte", "3", "");
    serial.CaricaDispositivi();
    EXPECT_EQ(port->devicePath(), "/dev/ttyS2") << "an empty entry is the default device";
}

TEST_F(Configuration, WhatFollowsALoadReadsTheFileAsThatLoadDid)
{
    set("Impianto", "Server", "localhost");
    set("Storico", "Giorni", "30");
    server.CaricaDispositivi();
    set("Impianto", "Server", "");
    set("Storico", "Giorni", "7");
    EXPECT_EQ(readFeedSettings(server.loadedSettings()).server, "localhost") << "a change waits for the next load";
    EXPECT_EQ(daysToKeep(server.loadedSettings()), 30);
    server.CaricaDispositivi();
    EXPECT_FALSE(readFeedSettings(server.loadedSettings()).enabled());
    EXPECT_EQ(daysToKeep(server.loadedSettings()), 7);
}
