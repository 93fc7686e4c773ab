#include "line/SettingsSchema.h"

#include "line/HeightSettings.h"
#include "serial/LineSettings.h"

#include <QLocale>
#include <QStringList>
#include <cstring>
#include <stdexcept>

namespace quorvex {

namespace {

using namespace settings;
using K = SettingKind;

// The five keys of a role's group. The dialog offers ports 1, 2 and 3 to
// the first three roles and the usual line settings to all but the service
// device.
std::vector<SettingRow> roleRows(const char *group, const char *tab, const char *port, const char *lineSettings,
                                 int firstLabel, bool service)
{
    const QString prefix = QStringLiteral("Txt") + QLatin1String(group);
    static std::vector<QByteArray> names; // the rows point at their data for the life of the process
    const auto name = [&](const char *suffix) {
        names.push_back((prefix + QLatin1String(suffix)).toLatin1());
        return names.back().constData();
    };
    // The rows keep their columns, one setting a row.
    // clang-format off
    if (service) {
        // The service device has its own control names, and no multiplier:
        // its divisor is always written as "0".
        return {
            {group, Marca, K::Text, "", nullptr, {tab, "&Marca", "txtMarcaDispositivo", firstLabel + 2}},
            {group, Modello, K::Text, "", nullptr, {tab, "Mo&dello", "txtModelloDispositivo", firstLabel + 3}},
            {group, Divisore, K::Fixed, "0", nullptr},
            {group, Porta, K::PortNumber, nullptr, port, {tab, "&Porta seriale", "txtPortaDispositivo", firstLabel}},
            {group, Settaggio, K::LineSettings, "", lineSettings,
             {tab, "&Settaggio", "txtSettaggioDispositivo", firstLabel + 1}},
        };
    }
    return {
        {group, Marca, K::Text, "", nullptr, {tab, "&Marca", name(Marca), firstLabel}},
        {group, Modello, K::Text, "", nullptr, {tab, "Mo&dello", name(Modello), firstLabel + 1}},
        {group, Divisore, K::Multiplier, "1", nullptr, {tab, "&Divisore", name(Divisore), firstLabel + 2}},
        {group, Porta, K::PortNumber, nullptr, port, {tab, "&Porta seriale", name(Porta), firstLabel + 3}},
        {group, Settaggio, K::LineSettings, "", lineSettings, {tab, "&Settaggio", name(Settaggio), firstLabel + 4}},
    };
}

std::vector<SettingRow> makeSchema()
{
    std::vector<SettingRow> rows;
    const auto add = [&rows](std::vector<SettingRow> block) { rows.insert(rows.end(), block.begin(), block.end()); };
    add(roleRows(Bilancia, Bilancia, "1", kUsualLineSettings, 0, false));
    add(roleRows(Contametri, Contametri, "2", kUsualLineSettings, 5, false));
    add(roleRows(Altezza, Altezza, "3", kUsualLineSettings, 10, false));
    add({
        {Altezza, MisuraMedia, K::Boolean, "0", nullptr, {"Altezza media", "&Media", "ChkAltezzaMedia"}},
        {Altezza, IntervalloDiCampionamento, K::Decimal, "0.2", nullptr,
         {"Altezza media", "&Intervallo di campionamento", "TxtIntervalloDiCampionamento", 15}},
        {Altezza, DistanzaSensoreArrotolatore, K::Decimal, "0", nullptr,
         {"Altezza media", "Distanza &Sensore Arrotolatore", "TxtDistanzaSensoreArrotolatore", 16}},
        {Altezza, DistanzaOperatoreArrotolatore, K::Decimal, "0", nullptr,
         {"Altezza media", "Distanza &Operatore Arrotolatore", "TxtDistanzaOperatoreArrotolatore", 17}},
    });
    add(roleRows(Servizio, Servizio, "", "", 18, true));
    add({{Porte, nullptr, K::Text, nullptr, nullptr}});
    add({
        {FormSamples, Width, K::Twips, nullptr, nullptr},
        {FormSamples, Height, K::Twips, nullptr, nullptr},
        {FormSamples, Left, K::Twips, nullptr, nullptr},
        {FormSamples, Top, K::Twips, nullptr, nullptr},
        {FormSamples, WindowState, K::WholeNumber, nullptr, nullptr},
        {Storico, Giorni, K::WholeNumber, "0", nullptr},
    });
    // The plant feed: empty Server, no feed. Linea's default, the host
    // name, is the feed's own.
    add({
        {Impianto, Server, K::Text, "", nullptr,
         {"Impianto", "&Server", "TxtImpiantoServer", 22, "vuoto: nessun invio all'impianto"}},
        {Impianto, Porta, K::WholeNumber, "1883", nullptr, {"Impianto", "&Porta", "TxtImpiantoPorta", 23}},
        {Impianto, Linea, K::Text, "", nullptr,
         {"Impianto", "&Linea", "TxtImpiantoLinea", 24, "vuoto: il nome del computer"}},
        {Impianto, Utente, K::Text, "", nullptr, {"Impianto", "&Utente", "TxtImpiantoUtente", 25, "vuoto: anonimo"}},
        {Impianto, FilePassword, K::Text, "", nullptr,
         {"Impianto", "File pass&word", "TxtImpiantoFilePassword", 26, "file con la password (prima riga)"}},
        {Impianto, FileCA, K::Text, "", nullptr, {"Impianto", "File &CA", "TxtImpiantoFileCA", 27, "vuoto: senza TLS"}},
        {Impianto, Keepalive, K::WholeNumber, "60", nullptr, {"Impianto", "&Keepalive (s)", "TxtImpiantoKeepalive", 28}},
        // The Sparkplug B edge node: set in the file, not shown by the dialog.
        {Impianto, Sparkplug, K::Boolean, "0", nullptr},
        {Impianto, Gruppo, K::Text, "quorvex", nullptr},
        {Impianto, HostPrimario, K::Text, "", nullptr},
    });
    // The Modbus TCP face: empty Porta, no face.
    add({
        {ModbusTCP, Porta, K::WholeNumber, "", nullptr},
        {ModbusTCP, Indirizzo, K::Text, "127.0.0.1", nullptr},
        {ModbusTCP, Unita, K::WholeNumber, "1", nullptr},
        {ModbusTCP, Client, K::Text, "", nullptr},
        {ModbusTCP, Intervallo, K::WholeNumber, "200", nullptr},
        {ModbusTCP, Scrittura, K::Boolean, "0", nullptr},
        {ModbusTCP, MaxClient, K::WholeNumber, "16", nullptr},
        {ModbusTCP, Inattivo, K::WholeNumber, "60", nullptr},
    });
    // The OPC UA face: empty Porta, no face. Sicurezza's default depends on
    // Indirizzo (None on a loopback address, SignAndEncrypt otherwise).
    add({
        {OPCUA, Porta, K::WholeNumber, "", nullptr},
        {OPCUA, Indirizzo, K::Text, "127.0.0.1", nullptr},
        {OPCUA, Sicurezza, K::Text, "", nullptr},
        {OPCUA, Scrittura, K::Boolean, "0", nullptr},
        {OPCUA, Utente, K::Text, "", nullptr},
        {OPCUA, FilePassword, K::Text, "", nullptr},
    });
    return rows;
}
// clang-format on

QString defaultText(const char *text, SettingKind kind)
{
    if (!text)
        return QString();
    if (kind == K::Decimal || kind == K::Multiplier)
        return QLocale().toString(QLocale::c().toDouble(QLatin1String(text)));
    return QLatin1String(text);
}

} // namespace

QString SettingRow::loadDefaultText() const
{
    return defaultText(loadDefault, kind);
}

QString SettingRow::shownDefaultText() const
{
    return shownDefault ? defaultText(shownDefault, kind) : loadDefaultText();
}

const std::vector<SettingRow> &settingsSchema()
{
    static const std::vector<SettingRow> rows = makeSchema();
    return rows;
}

const SettingRow &settingRow(const char *group, const char *key)
{
    for (const SettingRow &row : settingsSchema()) {
        if (std::strcmp(row.group, group) == 0 && row.key && std::strcmp(row.key, key) == 0)
            return row;
    }
    throw std::logic_error(std::string("no setting ") + group + "/" + key);
}

HeightSettings defaultHeightSettings()
{
    const auto number = [](const char *key) {
        return QLocale::c().toDouble(QLatin1String(settingRow(Altezza, key).loadDefault));
    };
    return {.IntervalloDiCampionamento = number(IntervalloDiCampionamento),
            .DistanzaSensoreArrotolatore = number(DistanzaSensoreArrotolatore),
            .DistanzaOperatoreArrotolatore = number(DistanzaOperatoreArrotolatore),
            .MisuraMedia = number(MisuraMedia) != 0};
}

QStringList settingsGroups()
{
    QStringList groups;
    for (const SettingRow &row : settingsSchema()) {
        if (!groups.contains(QLatin1String(row.group)))
            groups << QLatin1String(row.group);
    }
    return groups;
}

} // namespace quorvex
