// Loading the configuration: one Device record per role from the settings
// store, each bound to the port object of its port number and to the table
// rows of its operations, so a reading needs no look-up by name. Every step runs
// on its own: a value that does not convert leaves its target as it was,
// and a port that refuses a step still gets the next one. A role without a
// valid port number gets no port at all, so nothing is ever written to a
// device nobody named.
//
// Each load says what it made of the store (quorvex.config): one line per
// role, and a warning for every value it could not use.
#include "common/AutomationError.h"
#include "common/EditDistance.h"
#include "common/Logging.h"
#include "drivers/InstrumentDefinitions.h"
#include "drivers/InstrumentModel.h"
#include "line/Conversions.h"
#include "line/Line.h"
#include "line/SettingsReader.h"
#include "serial/LineSettings.h"

#include <QLocale>
#include <QSet>
#include <algorithm>
#include <climits>

namespace quorvex {

namespace {

// Runs one step; gives the error it ended with, if any.
template<typename Step> std::optional<AutomationError> tryStep(Step &&step)
{
    try {
        step();
    } catch (const AutomationError &error) {
        return error;
    }
    return std::nullopt;
}

// The brands and models of the table that serve the role, nearest first.
QStringList nearestModels(const InstrumentDefinitions &definitions, Role role, const QString &brand,
                          const QString &model)
{
    // Names are short; a long text is only compared by its start.
    const QString wanted = (brand + QLatin1Char(' ') + model).left(64);
    std::vector<std::pair<int, QString>> known;
    for (const InstrumentModel *row : definitions.knownModels()) {
        const QString name = row->brand + QLatin1Char(' ') + row->model;
        if (modelServes(*row, role))
            known.emplace_back(editDistance(wanted, name), name);
    }
    std::sort(known.begin(), known.end());
    QStringList nearest;
    for (size_t i = 0; i < known.size() && i < 3; ++i)
        nearest << known[i].second;
    return nearest;
}

// What the role's brand and model bind: its drivers, or why none.
QString describeDrivers(Role role, const Device &record, bool *found)
{
    QStringList drivers, tried;
    for (int op = 0; op < kRoleOperationCount; ++op) {
        if (roleOf(RoleOperation(op)) != role)
            continue;
        const QString name = QStringLiteral("%1_%2_%3")
                                 .arg(QLatin1String(operationName(RoleOperation(op))), record.Marca, record.Modello);
        (record.drivers[size_t(op)] ? drivers : tried) << name;
    }
    *found = !drivers.isEmpty();
    if (*found)
        return QStringLiteral("driver %1").arg(drivers.join(QLatin1String(", ")));
    return QStringLiteral("no driver named %1 (nearest known: %2)")
        .arg(tried.join(QLatin1String(" or ")),
             nearestModels(*record.definitions, role, record.Marca, record.Modello).join(QLatin1String(", ")));
}

// What a reading of a role whose brand and model bind no driver says
// beyond that: the nearest known models, and the definition files of that
// name (or of no readable name) the load refused, with why.
QString noDriverHint(Role role, const Device &record)
{
    QStringList parts;
    if (const QStringList nearest = nearestModels(*record.definitions, role, record.Marca, record.Modello);
        !nearest.isEmpty())
        parts << QStringLiteral("nearest known: %1").arg(nearest.join(QLatin1String(", ")));
    for (const RefusedDefinition &refused : record.definitions->refused()) {
        const bool unnamed = refused.brand.isEmpty() && refused.model.isEmpty();
        if (unnamed
            || (refused.brand.compare(record.Marca, Qt::CaseInsensitive) == 0
                && refused.model.compare(record.Modello, Qt::CaseInsensitive) == 0))
            parts << QStringLiteral("instrument definition %1 was refused: %2").arg(refused.path, refused.why);
    }
    return parts.join(QLatin1String("; "));
}

bool hasDriver(Role role, const Device &record)
{
    for (int op = 0; op < kRoleOperationCount; ++op) {
        if (roleOf(RoleOperation(op)) == role && record.drivers[size_t(op)])
            return true;
    }
    return false;
}

// The known key nearest to name, by edit distance.
QString nearestKey(const QString &name, const QStringList &known)
{
    QString nearest;
    int best = INT_MAX;
    for (const QString &k : known) {
        if (const int d = editDistance(name.left(64), k); d < best) {
            best = d;
            nearest = k;
        }
    }
    return nearest;
}

// A group or key the schema owns but spelt otherwise is not read, so it
// never reaches the role: one warning each, naming the file and the
// nearest known name. [Porte]'s keys are port numbers. Groups the schema
// does not have are someone else's and left alone.
void warnAboutUnknownNames(const SettingsSnapshot &store)
{
    const QStringList groups = settingsGroups();
    const QString file = store.fileName();
    const auto miscased = [](const QString &name, const QStringList &known) {
        for (const QString &k : known) {
            if (name != k && name.compare(k, Qt::CaseInsensitive) == 0)
                return k;
        }
        return QString();
    };
    QSet<QString> warned;
    for (const QString &path : store.allKeys()) {
        const QString group = path.section(QLatin1Char('/'), 0, 0);
        const QString key = path.section(QLatin1Char('/'), 1);
        if (!groups.contains(group)) {
            // Spaces around a name are part of it: "[Bilancia ]" is another group.
            const QString trimmed = group.trimmed();
            const QString known = groups.contains(trimmed) ? trimmed : miscased(trimmed, groups);
            if (!known.isEmpty() && !warned.contains(group)) {
                warned.insert(group);
                QStringList how;
                if (trimmed != group)
                    how << QStringLiteral("without spaces");
                if (known != trimmed)
                    how << QStringLiteral("in that case");
                qCWarning(lcConfig).noquote()
                    << QStringLiteral("section [%1] is not read: the name is [%2], %3 (in %4)")
                           .arg(group, known, how.join(QStringLiteral(" and ")), file);
            }
            continue;
        }
        if (group == QLatin1String(settings::Porte)) {
            bool number = false;
            const int n = key.toInt(&number);
            if (!number || n < kLowestPortNumber || n > kHighestPortNumber || QString::number(n) != key)
                qCWarning(lcConfig).noquote()
                    << QStringLiteral("[%1] %2 is not a port number (%3 to %4): it is not read (in %5)")
                           .arg(group, key)
                           .arg(kLowestPortNumber)
                           .arg(kHighestPortNumber)
                           .arg(file);
            continue;
        }
        QStringList keys;
        for (const SettingRow &row : settingsSchema()) {
            if (row.key && group == QLatin1String(row.group))
                keys << QLatin1String(row.key);
        }
        if (keys.contains(key))
            continue;
        if (const QString known = miscased(key, keys); !known.isEmpty())
            qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2 is not read: the key is %3, in that case (in %4)")
                                                 .arg(group, key, known, file);
        else
            qCWarning(lcConfig).noquote()
                << QStringLiteral("[%1] %2 is not a key of [%1] and is not read; the nearest known key is %3 (in %4)")
                       .arg(group, key, nearestKey(key, keys), file);
    }
}

} // namespace

void Line::CaricaDispositivi()
{
    loadPortHost();
    m_dispositivi.emplace();
    m_loadedSettings = SettingsStore().snapshot();
    const SettingsSnapshot &store = m_loadedSettings;
    qCDebug(lcConfig).noquote() << QStringLiteral("loading %1").arg(store.fileName());
    *m_portDevices = readPortDevices(store);
    warnAboutUnknownNames(store);
    for (const auto &[number, port] : m_portHost->elements())
        port->setRoles({});
    // Read at each load; the set of the last load goes with the last record
    // (or reading) that holds it.
    m_definitions = InstrumentDefinitions::load();

    for (int index = 0; index < kRoleCount; ++index) {
        const char *group = kRoles[index].group;
        Device record;
        readInto(store, group, settings::Marca, record.Marca, asText);
        readInto(store, group, settings::Modello, record.Modello, asText);
        const std::optional<QString> porta = store.value(QLatin1String(group), QLatin1String(settings::Porta));
        if (porta) {
            if (const auto number = toWholeNumber(*porta))
                record.Porta = *number;
        }
        readInto(store, group, settings::Settaggio, record.Impostazioni, asText);
        const std::optional<QString> divisore = store.value(QLatin1String(group), QLatin1String(settings::Divisore));
        readInto(store, group, settings::Divisore, record.Divisore, toDecimal, decimalProblem());
        if (divisore && !toDecimal(*divisore))
            record.divisorProblem =
                QStringLiteral("[%1] Divisore=%2 is not a number: readings are multiplied by %3")
                    .arg(QLatin1String(group), quotedForLog(*divisore), shownSetting(record.Divisore));
        record.definitions = m_definitions;
        for (int op = 0; op < kRoleOperationCount; ++op)
            record.drivers[op] =
                m_definitions->recipe(QLatin1String(operationName(RoleOperation(op))), record.Marca, record.Modello);
        if ((!record.Marca.isEmpty() || !record.Modello.isEmpty()) && !hasDriver(Role(index), record))
            record.noDriverHint = noDriverHint(Role(index), record);
        bindPort(Role(index), record, porta,
                 store.value(QLatin1String(group), QLatin1String(settings::Settaggio)).has_value());
        (*m_dispositivi)[index] = record;

        if (Role(index) == Role::Altezza) {
            readInto(store, group, settings::MisuraMedia, m_height.MisuraMedia, toBoolean,
                     QStringLiteral("is neither a number nor true or false"));
            readInto(store, group, settings::IntervalloDiCampionamento, m_height.IntervalloDiCampionamento, toDecimal,
                     decimalProblem());
            readInto(store, group, settings::DistanzaSensoreArrotolatore, m_height.DistanzaSensoreArrotolatore,
                     toDecimal, decimalProblem());
            readInto(store, group, settings::DistanzaOperatoreArrotolatore, m_height.DistanzaOperatoreArrotolatore,
                     toDecimal, decimalProblem());
        }
    }
    emit configurationLoaded();
}

// Binds record to element Porta of the port host and opens it, and logs
// the role's line. Each step is tried even when an earlier one failed: a port
// already open keeps running with the new line settings, and a port that
// cannot open stays bound and closed, so its drivers fail on every exchange
// (with the error of the open) until its device can be opened. A role
// without a valid port number has no port; element 0 is only
// the template of new port objects and is never opened here.
void Line::bindPort(Role role, Device &record, const std::optional<QString> &porta, bool lineSettingsStored)
{
    const QString group = QLatin1String(kRoles[size_t(role)].group);
    const bool named = !record.Marca.isEmpty() || !record.Modello.isEmpty();
    bool driverFound = false;
    const QString what = named
        ? QStringLiteral("%1 %2, %3").arg(record.Marca, record.Modello, describeDrivers(role, record, &driverFound))
        : QStringLiteral("no brand or model");
    const int n = record.Porta;
    record.port = nullptr;
    // An empty Porta (what the dialog writes for a role left without one)
    // is no port, as an absent one.
    const std::optional<QString> stored = porta && !porta->trimmed().isEmpty() ? porta : std::nullopt;
    if (n < kLowestPortNumber) {
        if (stored)
            qCWarning(lcConfig).noquote()
                << QStringLiteral("[%1] Porta=%2 is not a port number (%3 to %4): the role has no port")
                       .arg(group, quotedForLog(*stored))
                       .arg(kLowestPortNumber)
                       .arg(kHighestPortNumber);
        else if (named)
            qCWarning(lcConfig).noquote() << QStringLiteral("[%1] has no Porta: the role has no port").arg(group);
        if (!named && !stored)
            qCInfo(lcConfig).noquote() << QStringLiteral("%1: not configured").arg(group);
        else
            qCWarning(lcConfig).noquote() << QStringLiteral("%1: %2; no port").arg(group, what);
        return;
    }

    m_portHost->create(n);
    const PortRef port = m_portHost->element(n);
    if (!port)
        return;
    // Its number now stands for another device (the [Porte] entry was
    // changed): closed here, it opens on that device below.
    if (port->deviceMoved())
        tryStep([&] { port->setPortOpen(false); });
    tryStep([&] { port->setCommPort(n); }); // refused while open: the number is already n
    if (tryStep([&] { port->setSettings(record.Impostazioni); }) && lineSettingsStored)
        qCWarning(lcConfig).noquote() << QStringLiteral(
                                             "[%1] Settaggio=%2 is not line settings such as %3: the port keeps %4")
                                             .arg(group, quotedForLog(record.Impostazioni),
                                                  QLatin1String(kUsualLineSettings), port->Settings());
    const bool wasOpen = port->PortOpen();
    const std::optional<AutomationError> openError = wasOpen ? std::nullopt : tryStep([&] { port->setPortOpen(true); });
    record.port = port;
    QStringList roles = port->roles();
    roles.append(group);
    port->setRoles(roles);

    const QString state = port->PortOpen() ? (wasOpen ? QStringLiteral("open") : QStringLiteral("opened"))
                                           : QStringLiteral("not open: %1: %2")
                                                 .arg(openError ? openError->number() : 8018)
                                                 .arg(openError ? openError->text() : QStringLiteral("closed"));
    const QString line = QStringLiteral("%1: %2; port %3 -> %4 at %5, %6%7")
                             .arg(group, what)
                             .arg(n)
                             .arg(port->devicePath(), port->Settings(), state,
                                  named ? QString() : QStringLiteral(", for direct calls only"));
    if (named && driverFound && port->PortOpen())
        qCInfo(lcConfig).noquote() << line;
    else
        qCWarning(lcConfig).noquote() << line;
}

} // namespace quorvex
