#include "app/Startup.h"

#include "api/DbusBinding.h"
#include "api/Global.h"
#include "line/Line.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace quorvex {

namespace {

// Loads the sampler window hidden; loading it starts the sampling. The
// sampler window is not part of this build yet, so nothing is loaded.
void loadSamplerHidden(Server &)
{
}

} // namespace

int runServer(int argc, char **argv)
{
    const bool emptyCommandLine = argc <= 1;
    // A line PC may run the server without a desktop session; its windows
    // then live on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 1;
    if (bus.interface()->isServiceRegistered(QLatin1String(kServiceName)))
        return 0;
    const bool activated = qEnvironmentVariableIsSet("DBUS_STARTER_ADDRESS");
    if (!activated && emptyCommandLine)
        return 0;

    Server server;
    DbusBinding binding(server, bus);
    if (!binding.registerObject())
        return 1;
    // Losing the name to a process that started at the same moment counts
    // as "another process runs".
    if (!bus.registerService(QLatin1String(kServiceName)))
        return 0;

    server.CaricaDispositivi();
    if (server.MisuraMedia) {
        server.GlobaleInterno = std::make_shared<Global>(server);
        loadSamplerHidden(server);
    }

    QObject::connect(&server, &Server::lastReferenceGone, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace quorvex
