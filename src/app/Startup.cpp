#include "app/Startup.h"

#include "api/DbusBinding.h"
#include "api/Global.h"
#include "api/History.h"
#include "api/modbus/ModbusFace.h"
#include "api/opcua/OpcuaFace.h"
#include "app/FeedLink.h"
#include "app/HeightTracking.h"
#include "app/ImageSources.h"
#include "app/OrderlyExit.h"
#include "app/ServerWindows.h"
#include "app/SystemdNotifier.h"
#include "common/Logging.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "line/SettingsStore.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace quorvex {

GlobalServices serverServices(HeightTracking &tracking, ServerWindows &windows, FeedLink *feed)
{
    GlobalServices services;
    services.sampler = [&tracking] { return tracking.sampler(); };
    services.showSettings = [&windows] { windows.showSettings(); };
    services.showSampler = [&windows](bool show) { windows.showSampler(show); };
    services.coilFinished = [&tracking](const FinishedCoil &coil) { tracking.coilFinished(coil); };
    if (feed)
        services.feedStatus = [feed] { return feed->status(); };
    return services;
}

int runServer(int argc, char **argv, const char *version)
{
    const bool emptyCommandLine = argc <= 1;
    // A line PC may run the server without a desktop session; its windows
    // then live on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    app.setApplicationVersion(QString::fromLatin1(version));
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
    // With MisuraMedia on at a configuration load, the tracking creates the
    // server's own instance (GlobaleInterno) and the sampler, whose window
    // loads hidden; the loaded window keeps the process alive from then on.
    HeightTracking tracking(line, coilStore);
    ImageSources imageSources(line, coilStore, tracking);
    ServerWindows windows(line, tracking, &coilStore);
    FeedLink feed(line, coilStore);
    GlobalServices services = serverServices(tracking, windows, &feed);
    ModbusFace modbus(line, &services);
    services.modbusStatus = [&modbus] { return modbus.status(); };
    QObject::connect(&line, &Line::configurationLoaded, &modbus,
                     [&modbus, &line] { modbus.configure(readModbusFaceSettings(line.loadedSettings())); });
    OpcuaFace opcua(line, &services);
    services.opcuaStatus = [&opcua] { return opcua.status(); };
    QObject::connect(&line, &Line::configurationLoaded, &opcua,
                     [&opcua, &line] { opcua.configure(readOpcuaFaceSettings(line.loadedSettings())); });
    DbusBinding binding(line, bus, &services);
    History history(coilStore, bus, [&windows] { windows.showHistory(); });
    binding.setHistory(&history);
    if (!binding.registerObject())
        return 1;
    // Losing the name to a process that started at the same moment counts
    // as "another process runs".
    if (!bus.registerService(QLatin1String(kServiceName)))
        return 0;

    SystemdNotifier systemd(line, &feed);
    line.CaricaDispositivi();
    OrderlyExit exit(bus, line, binding, windows);
    QObject::connect(&exit, &OrderlyExit::ending, &systemd, &SystemdNotifier::stopping);
    exit.handleStopSignals();
    systemd.ready();
    return app.exec();
}

} // namespace quorvex
