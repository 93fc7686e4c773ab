#pragma once
// What Global reaches beyond the line, provided by the process: the
// height tracking's sampler, two windows, the coil store's hand-off and the
// plant feed's state. The process builds it once, at start.
#include <QVariantMap>
#include <functional>

namespace quorvex {

class Sampler;
struct FinishedCoil;

struct GlobalServices {
    std::function<Sampler *()> sampler; // the loaded sampler, or null
    std::function<void()> showSettings; // opens the settings dialog, without blocking
    std::function<void(bool)> showSampler; // shows (loading it if needed) or hides the sampler window
    // Records a coil a zeroing has closed; the zeroing answers its caller
    // after it returns (the write takes about a millisecond, outside the
    // sampler's pause).
    std::function<void(const FinishedCoil &)> coilFinished;
    std::function<QVariantMap()> feedStatus; // the plant feed's state, for Diagnostics
    std::function<QVariantMap()> modbusStatus; // the Modbus TCP face's state, for Diagnostics
    std::function<QVariantMap()> opcuaStatus; // the OPC UA face's state, for Diagnostics
};

} // namespace quorvex
