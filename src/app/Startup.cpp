#include "app/Startup.h"

#include "api/DbusBinding.h"
#include "api/Global.h"
#include "api/History.h"
#include "app/CoilRecorder.h"
#include "app/FeedLink.h"
#include "app/OrderlyExit.h"
#include "app/ServerWindows.h"
#include "history/CoilStore.h"
#include "common/Logging.h"
#include "line/Line.h"
#include "line/SettingsStore.h"
#include "tracking/Sampler.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace quorvex {

int runServer(int argc, char **argv, const char *version)
{
    const bool emptyCommandLine = argc <= 1;
    // A line PC may run the server without a desktop session; its windows
    // then live on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    installLogHandler();
    app.setQuitOnLastWindowClosed(false);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 1;
    if (bus.interface()->isServiceRegistered(QLatin1String(kServiceName)))
        return 0;
    const bool activated = qEnvironmentVariableIsSet("DBUS_STARTER_ADDRESS");
    if (!activated && emptyCommandLine)
        return 0;

    qCInfo(lcServer).noquote() << QStringLiteral("quorvexd %1 starting, pid %2; settings %3; coil records %4")
                                      .arg(QString::fromLatin1(version))
                                      .arg(QCoreApplication::applicationPid())
                                      .arg(SettingsStore::path(), CoilStore::defaultPath());
    Line line;
    // Opened now so a store that cannot be written is told at start; every
    // record tries it again.
    CoilStore coilStore;
    coilStore.open();
    // With MisuraMedia on at a configuration load, the windows part creates
    // the server's own instance (GlobaleInterno) and loads the sampler
    // hidden; the loaded window keeps the process alive from then on.
    ServerWindows windows(line);
    windows.setCoilStore(&coilStore);
    GlobalServices *services = windows.services();
    CoilRecorder recorder(line, coilStore, [services] { return services->sampler && services->sampler->pauseCount() > 0; });
    services->coilFinished = [&recorder](const FinishedCoil &coil) { recorder.coilFinished(coil); };
    DbusBinding binding(line, bus, services);
    History history(coilStore, bus, [&windows] { windows.showHistory(); });
    binding.setHistory(&history);
    if (!binding.registerObject())
        return 1;
    // Losing the name to a process that started at the same moment counts
    // as "another process runs".
    if (!bus.registerService(QLatin1String(kServiceName)))
        return 0;

    FeedLink feed(line, coilStore, *windows.services());
    line.CaricaDispositivi();
    OrderlyExit exit(bus, line, binding, windows);
    exit.handleStopSignals();
    return app.exec();
}

} // namespace quorvex
