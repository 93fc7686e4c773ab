#include "app/Startup.h"

#include "api/DbusBinding.h"
#include "api/Global.h"
#include "app/OrderlyExit.h"
#include "line/Line.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace quorvex {

namespace {

// Loads the sampler window hidden; loading it starts the sampling. The
// sampler window is not part of this build yet, so nothing is loaded.
void loadSamplerHidden(Line &)
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

    Line line;
    DbusBinding binding(line, bus);
    if (!binding.registerObject())
        return 1;
    // Losing the name to a process that started at the same moment counts
    // as "another process runs".
    if (!bus.registerService(QLatin1String(kServiceName)))
        return 0;

    line.CaricaDispositivi();
    // The server's own instance: it keeps the line (and so the process) in
    // use for as long as the process runs.
    std::unique_ptr<Global> GlobaleInterno;
    if (line.MisuraMedia) {
        GlobaleInterno = std::make_unique<Global>(line);
        loadSamplerHidden(line);
    }

    OrderlyExit exit(bus, line, binding);
    exit.handleStopSignals();
    const int status = app.exec();
    GlobaleInterno.reset();
    return status;
}

} // namespace quorvex
