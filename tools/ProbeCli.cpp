#include "ProbeCli.h"
#include "BusErrors.h"
#include "Output.h"
#include "ReloadCli.h"

#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/AppFolders.h"
#include "common/ByteText.h"
#include "drivers/Roles.h"
#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"
#include "serial/StableDeviceName.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <cstdio>
#include <unistd.h>

namespace quorvex::cli {

namespace {

// A probe tries up to some 500 candidates of at most 300 ms each.
constexpr int kProbeTimeoutMs = 300000;
constexpr int kReloadTimeoutMs = 30000;

// Writes the role's settings and has the server load them.
int apply(QDBusConnection &bus, const Request &request, const QList<QVariantMap> &results)
{
    const QString reading = readingOperationOf(request.applyRole);
    const auto result = std::find_if(results.begin(), results.end(), [&](const QVariantMap &r) {
        return r.value(QStringLiteral("operation")).toString() == reading;
    });
    if (result == results.end()) {
        writeLine(stderr,
                  QStringLiteral("quorvex: nothing found gives %1, the reading of %2; settings left as they are")
                      .arg(reading, request.applyRole));
        return kExitNothingFound;
    }
    SettingsStore store;
    ProbeApplication a = applicationFor(request.applyRole, request.probeDevice, *result,
                                        store.value(request.applyRole, QLatin1String(settings::Porta)));
    // The adapter's own name keeps the role when it comes back as another ttyUSBn.
    if (const QString stable = stableDeviceName(a.devicePath); !a.devicePath.isEmpty() && !stable.isEmpty())
        a.devicePath = stable;
    QList<SettingsStore::Change> changes{{a.group, QLatin1String(settings::Marca), a.brand},
                                         {a.group, QLatin1String(settings::Modello), a.model},
                                         {a.group, QLatin1String(settings::Settaggio), a.settings},
                                         {a.group, QLatin1String(settings::Porta), a.port}};
    if (!a.devicePath.isEmpty())
        changes.append({QLatin1String(settings::Porte), a.port, a.devicePath});
    QString why;
    if (!store.write(changes, &why)) {
        writeLine(stderr, QStringLiteral("quorvex: cannot write %1: %2").arg(store.fileName(), why));
        return kExitCallFailed;
    }
    std::printf("%s: %s %s at %s on port %s%s (written to %s)\n", qPrintable(a.group), qPrintable(a.brand),
                qPrintable(a.model), qPrintable(a.settings), qPrintable(a.port),
                a.devicePath.isEmpty() ? "" : qPrintable(QStringLiteral(" = ") + a.devicePath),
                qPrintable(store.fileName()));
    std::fflush(stdout);
    const QDBusMessage reload =
        bus.call(diagnosticsCall(QStringLiteral("Reload"), ServerStart::ByActivation), QDBus::Block, kReloadTimeoutMs);
    if (reload.type() != QDBusMessage::ReplyMessage) {
        writeLine(stderr, callFailure(reload, kReloadTimeoutMs, QStringLiteral("the server did not reload")));
        return kExitCallFailed;
    }
    printReloadWarnings(request, reload); // what was found is in use all the same
    return kExitOk;
}

QString readingRole(const QString &option, const QString &value)
{
    if (readingOperationOf(value).isEmpty())
        throw UsageError(QStringLiteral("%1 takes Bilancia, Contametri or Altezza, not '%2'").arg(option, value));
    return value;
}

} // namespace

bool readProbeWords(Request &request, const QStringList &words)
{
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString &word = words[i];
        if (isVerboseOption(word)) {
            request.verbose = true;
        } else if (word == QLatin1String("--role") || word == QLatin1String("--apply")) {
            if (i + 1 >= words.size())
                throw UsageError(QStringLiteral("%1 takes a role").arg(word));
            (word == QLatin1String("--role") ? request.probeRole : request.applyRole) = readingRole(word, words[++i]);
        } else if (word.startsWith(QLatin1String("--"))) {
            throw UsageError(QStringLiteral("unknown option '%1' of probe").arg(word));
        } else if (request.probeDevice.isEmpty()) {
            request.probeDevice = word;
        } else {
            throw UsageError(QStringLiteral("probe takes one device (a port number or a device path)"));
        }
    }
    if (request.probeDevice.isEmpty())
        throw UsageError(QStringLiteral("probe takes one device (a port number or a device path)"));
    if (!request.probeRole.isEmpty() && !request.applyRole.isEmpty() && request.probeRole != request.applyRole)
        throw UsageError(QStringLiteral("--role and --apply name different roles"));
    if (request.probeRole.isEmpty())
        request.probeRole = request.applyRole;
    return true;
}

QString formatProbeResult(const QVariantMap &result)
{
    return QStringLiteral("%1 %2 at %3: %4 %5 (%6 replies)")
        .arg(result.value(QStringLiteral("brand")).toString(), result.value(QStringLiteral("model")).toString(),
             result.value(QStringLiteral("settings")).toString(), result.value(QStringLiteral("operation")).toString(),
             formatValue(result.value(QStringLiteral("value"))))
        .arg(result.value(QStringLiteral("replies")).toUInt());
}

QString formatUnmatched(const QString &device, const QVariantMap &unmatched)
{
    const QByteArray heard = unmatched.value(QStringLiteral("heard")).toByteArray();
    return QStringLiteral("quorvex: bytes came back on %1 at %2 (\"%3\"), but no known model matched them; a "
                          "definition file in ~/.config/%4/Quorvex/strumenti/ adds a model (docs/instruments.md, "
                          "quorvex-instruments(7)), and `quorvex models` lists those known")
        .arg(device, unmatched.value(QStringLiteral("settings")).toString(),
             QString::fromStdString(escapedBytes(heard.toStdString())), QLatin1String(kOrganization));
}

ProbeApplication applicationFor(const QString &role, const QString &device, const QVariantMap &result,
                                const std::optional<QString> &rolePort)
{
    ProbeApplication a{role,
                       result.value(QStringLiteral("brand")).toString(),
                       result.value(QStringLiteral("model")).toString(),
                       result.value(QStringLiteral("settings")).toString(),
                       {},
                       {}};
    bool number = false;
    const int n = device.toInt(&number);
    if (number && n > 0) {
        a.port = QString::number(n);
        return a;
    }
    // A device path: the role's port number (its own, else its default) now stands for it.
    const QByteArray group = role.toLatin1();
    const SettingRow &porta = settingRow(group.constData(), "Porta");
    QString fallback = porta.loadDefaultText();
    if (fallback.toInt() <= 0)
        fallback = porta.shownDefaultText();
    a.port = rolePort && rolePort->toInt() > 0 ? *rolePort : fallback;
    a.devicePath = device;
    return a;
}

void ProbeProgressPrinter::onProgress(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() != 6)
        return;
    const QString line = QStringLiteral("%1 %2 at %3 (%4 of %5)")
                             .arg(args[1].toString(), args[2].toString(), args[3].toString())
                             .arg(args[4].toUInt())
                             .arg(args[5].toUInt());
    if (m_overwrite) {
        std::fprintf(stderr, "\r%s", line.leftJustified(m_width).toLocal8Bit().constData());
        m_width = line.size();
    } else {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    }
    std::fflush(stderr);
}

void ProbeProgressPrinter::finish()
{
    if (m_overwrite && m_width > 0)
        std::fprintf(stderr, "\r%s\r", QString(m_width, QLatin1Char(' ')).toLocal8Bit().constData());
    m_width = 0;
}

int runProbe(Session &session, const Request &request)
{
    QDBusConnection &bus = session.bus;
    ProbeProgressPrinter printer(::isatty(STDERR_FILENO) == 1);
    bus.connect(QLatin1String(kServiceName), QLatin1String(kObjectPath), QLatin1String(kDiagnosticsInterface),
                QStringLiteral("ProbeProgress"), &printer, SLOT(onProgress(QDBusMessage)));
    QDBusMessage call = diagnosticsCall(QStringLiteral("Probe"), ServerStart::ByActivation);
    call << request.probeDevice << request.probeRole;
    QEventLoop loop;
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, kProbeTimeoutMs));
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    loop.exec();
    printer.finish();
    const QDBusMessage reply = watcher.reply();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        writeLine(stderr, callFailure(reply, kProbeTimeoutMs));
        return kExitCallFailed;
    }
    QList<QVariantMap> results;
    QVariantMap unmatched;
    for (const QVariantMap &result : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
        if (result.contains(QStringLiteral("brand")))
            results.append(result);
        else
            unmatched = result;
    for (const QVariantMap &result : results)
        std::printf("%s\n", formatProbeResult(result).toLocal8Bit().constData());
    std::fflush(stdout);
    if (results.isEmpty() && !unmatched.isEmpty()) {
        writeLine(stderr, formatUnmatched(request.probeDevice, unmatched));
        return kExitNothingFound;
    }
    if (results.isEmpty()) {
        writeLine(stderr, QStringLiteral("quorvex: nothing answered on %1").arg(request.probeDevice));
        return kExitNothingFound;
    }
    return request.applyRole.isEmpty() ? kExitOk : apply(bus, request, results);
}

} // namespace quorvex::cli
