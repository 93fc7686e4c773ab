// quorvex: command-line client of the Quorvex server. Calls one operation by
// name or dispatch identifier over the D-Bus session bus and prints the
// result, once or repeatedly (--watch), or runs one of the commands of
// Commands.cpp (ports, monitor, probe, coils, ...).
#include "BusErrors.h"
#include "Commands.h"
#include "Output.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QFile>

#include <cstdio>
#include <unistd.h>

using namespace quorvex::cli;

namespace {

// QtDBus registers its own value types lazily, from whichever thread meets
// them first; its connection thread racing the main thread then warns
// "Trying to construct an instance of an invalid type" (QTBUG-108822).
// Registering them here, before any connection exists, avoids the race.
void registerDbusTypes()
{
    qRegisterMetaType<QDBusArgument>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusError>();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    Request request;
    try {
        request = parseCommandLine(arguments);
    } catch (const UsageError &error) {
        writeLine(stderr, QStringLiteral("quorvex: ") + error.message());
        writeLine(stderr, QStringLiteral("Try 'quorvex --help'."));
        return kExitUsage;
    }

    switch (request.mode) {
    case Request::Mode::Help: std::fputs(usageText().toLocal8Bit().constData(), stdout); return kExitOk;
    case Request::Mode::Version: std::printf("quorvex %s\n", QUORVEX_VERSION); return kExitOk;
    case Request::Mode::List: std::fputs(listOperations().toLocal8Bit().constData(), stdout); return kExitOk;
    default: break;
    }

    setVerboseErrors(request.verbose);
    QDBusConnection bus(QString{});
    Session session{app, bus};
    if (request.command && !request.command->needsBus)
        return runCommand(*request.command, session, request);
    registerDbusTypes();
    bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const unsigned uid = ::getuid();
        writeLine(stderr,
                  noSessionBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), bus.lastError(), uid,
                               QFile::exists(QStringLiteral("/run/user/%1/bus").arg(uid))));
        return kExitCallFailed;
    }
    return request.command ? runCommand(*request.command, session, request) : runOperation(session, request);
}
