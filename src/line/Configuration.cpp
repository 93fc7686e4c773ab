// Loading the configuration: one Device record per role from the settings
// store, each bound to the port object of its port number and to the table
// rows of its operations, so a reading needs no look-up by name. Every step runs
// on its own: a value that does not convert leaves its target as it was,
// and a port that refuses a step still gets the next one. Nothing is
// reported; the roles of a broken configuration simply read 0.
#include "common/AutomationError.h"
#include "line/Conversions.h"
#include "line/Line.h"
#include "drivers/InstrumentModel.h"
#include "line/SettingsStore.h"

#include <QLocale>

namespace quorvex {

namespace {

// Runs one step, ignoring the error it may end with.
template <typename Step> void tryStep(Step &&step)
{
    try {
        step();
    } catch (const AutomationError &) {
    }
}

// Reads key into target through convert; the default applies only to an
// absent key, and a failed conversion leaves target unchanged.
template <typename T, typename Convert>
void readInto(const SettingsStore &store, const QString &group, const char *key, const QString &fallback,
              T &target, Convert convert)
{
    const QString text = store.value(group, QLatin1String(key)).value_or(fallback);
    if (const auto value = convert(text))
        target = *value;
}

std::optional<QString> asText(const QString &text)
{
    return text;
}

} // namespace

void Line::CaricaDispositivi()
{
    loadPortHost();
    Dispositivi.emplace();
    const SettingsStore store;

    for (int index = 0; index < kRoleCount; ++index) {
        const RoleNames &role = kRoles[index];
        const QString group = QLatin1String(role.group);
        const bool service = Role(index) == Role::Servizio;
        Device record;
        readInto(store, group, "Marca", QString(), record.Marca, asText);
        readInto(store, group, "Modello", QString(), record.Modello, asText);
        readInto(store, group, "Porta", QString(), record.Porta, toWholeNumber);
        readInto(store, group, "Settaggio", QString(), record.Impostazioni, asText);
        readInto(store, group, "Divisore", service ? QStringLiteral("0") : QStringLiteral("1"), record.Divisore,
                 toDecimal);
        bindPort(record);
        for (int op = 0; op < kRoleOperationCount; ++op)
            record.drivers[op] = findInstrumentModel(QLatin1String(kRoleOperationNames[op]), record.Marca,
                                                     record.Modello);
        (*Dispositivi)[index] = record;

        if (Role(index) == Role::Altezza) {
            readInto(store, group, "MisuraMedia", QStringLiteral("false"), MisuraMedia, toBoolean);
            // The defaults are written in the user's number format, as the
            // settings dialog would store them.
            readInto(store, group, "IntervalloDiCampionamento", QLocale().toString(0.2), IntervalloDiCampionamento,
                     toDecimal);
            readInto(store, group, "DistanzaSensoreArrotolatore", QStringLiteral("0"), DistanzaSensoreArrotolatore,
                     toDecimal);
            readInto(store, group, "DistanzaOperatoreArrotolatore", QStringLiteral("0"),
                     DistanzaOperatoreArrotolatore, toDecimal);
        }
    }
    emit configurationLoaded();
}

// Binds record to element Porta of the port host and opens it. Each step is
// tried even when an earlier one failed: a port already open keeps running
// with the new line settings, and a port that cannot open stays bound and
// closed, so its drivers fail on every exchange.
void Line::bindPort(Device &record)
{
    const int n = record.Porta;
    m_formTools->create(n);
    PortRef port = m_formTools->element(n);
    if (port) {
        // Its number now stands for another device (the [Porte] entry was
        // changed): closed here, it opens on that device below.
        if (port->deviceMoved())
            tryStep([&] { port->setPortOpen(false); });
        tryStep([&] { port->setCommPort(n); });
        tryStep([&] { port->setSettings(record.Impostazioni); });
        tryStep([&] { port->setPortOpen(true); });
    }
    record.MSC = port;
}

} // namespace quorvex
