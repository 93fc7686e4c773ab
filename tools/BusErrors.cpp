#include "BusErrors.h"

#include <QDBusError>
#include <QStringList>

namespace quorvex::cli {

namespace {

bool g_verbose = false;

const QString kPrefix = QStringLiteral("quorvex: ");

QString howItStarts()
{
    return QStringLiteral("it starts with the first reading (for example 'quorvex LeggiPeso') "
                          "or with 'systemctl --user start quorvex'");
}

QString raw(const QString &name, const QString &message)
{
    return QStringLiteral("%1: %2").arg(name.isEmpty() ? QStringLiteral("org.freedesktop.DBus.Error.Failed") : name,
                                        message);
}

// The failure in words, or an empty string for an error to show as it is.
QString inWords(const QString &name, const QString &message, int timeoutMs)
{
    const QString bus = QStringLiteral("org.freedesktop.DBus.Error.");
    if (name == bus + QLatin1String("NameHasNoOwner"))
        return QStringLiteral("no Quorvex server is running; ") + howItStarts();
    if (name == bus + QLatin1String("ServiceUnknown"))
        return QStringLiteral("no Quorvex server is running, and this session bus cannot start one (no D-Bus "
                              "service file names com.velkaro.Quorvex: is the package installed?); "
                              "'systemctl --user start quorvex' starts it");
    if (name.startsWith(bus + QLatin1String("Spawn.")) || name.startsWith(QLatin1String("org.freedesktop.systemd1.")))
        return QStringLiteral("the session bus could not start the Quorvex server (%1); "
                              "'journalctl --user -u quorvex' shows why")
            .arg(message);
    if (name == bus + QLatin1String("NoReply") || name == bus + QLatin1String("Timeout")
        || name == bus + QLatin1String("TimedOut")) {
        if (message.contains(QLatin1String("disconnected")))
            return QStringLiteral("the Quorvex server ended before it answered");
        return QStringLiteral("no answer from the Quorvex server within %1 s (--timeout SECS waits longer)")
            .arg(QString::number(timeoutMs / 1000.0, 'g', 6));
    }
    if (name == bus + QLatin1String("Disconnected"))
        return QStringLiteral("the connection to the D-Bus session bus was lost");
    return QString();
}

QString withRaw(QString text, const QString &name, const QString &message)
{
    if (g_verbose)
        text += QLatin1Char('\n') + kPrefix + QStringLiteral("D-Bus error: ") + raw(name, message);
    return text;
}

} // namespace

void setVerboseErrors(bool verbose)
{
    g_verbose = verbose;
}

QString callFailure(const QString &errorName, const QString &errorMessage, int timeoutMs, const QString &context)
{
    const QString head = context.isEmpty() ? kPrefix : kPrefix + context + QStringLiteral(": ");
    const QString words = inWords(errorName, errorMessage, timeoutMs);
    if (words.isEmpty())
        return head + raw(errorName, errorMessage);
    return withRaw(head + words, errorName, errorMessage);
}

QString callFailure(const QDBusMessage &reply, int timeoutMs, const QString &context)
{
    return callFailure(reply.errorName(), reply.errorMessage(), timeoutMs, context);
}

QString noServerRunning()
{
    return kPrefix + QStringLiteral("no Quorvex server is running, and this command does not start one; ")
        + howItStarts();
}

QString noSessionBus(const QString &address, const QDBusError &error, unsigned uid, bool busSocketExists)
{
    const QString userBus = QStringLiteral("unix:path=/run/user/%1/bus").arg(uid);
    QString text;
    if (address.isEmpty())
        text = QStringLiteral("no D-Bus session bus: DBUS_SESSION_BUS_ADDRESS is not set (as in an SSH session). "
                              "The server runs on the line user's session bus; as that user: "
                              "export DBUS_SESSION_BUS_ADDRESS=%1")
                   .arg(userBus);
    else
        text = QStringLiteral("cannot reach the D-Bus session bus at %1 (DBUS_SESSION_BUS_ADDRESS); "
                              "the line user's bus is %2")
                   .arg(address, userBus);
    if (!busSocketExists)
        text += QStringLiteral(" (it is not there now: the user has no session; "
                               "'loginctl enable-linger USER' keeps one from boot)");
    return withRaw(kPrefix + text, error.name(), error.message());
}

} // namespace quorvex::cli
