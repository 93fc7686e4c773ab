#pragma once
// What the settings window needs from the rest of the server, as callables,
// so the window depends on nothing above the configured line.
#include "drivers/InstrumentDefinitions.h"
#include "serial/SerialDevices.h"

#include <QStringList>
#include <functional>

namespace quorvex {

struct FormDevicesHooks {
    // Reloads the configuration from the store (CaricaDispositivi); gives
    // the warnings the load logged, empty for a clean load.
    std::function<QStringList()> reloadConfiguration;
    // MisuraMedia as the last configuration load read it.
    std::function<bool()> samplerWasOnAtLastLoad;
    // Opens the sampler window through the server's own instance.
    std::function<void()> showSampler;
    // The instrument definitions the line read at its last load, whose
    // models the brand and model fields offer besides the built-in ones;
    // unset offers only the built-in ones.
    std::function<DefinitionsRef()> definitions;
    // The serial devices offered on the ports tab; empty means the devices
    // present on this machine.
    std::function<QList<SerialDeviceChoice>()> serialDevices;
};

} // namespace quorvex
