#pragma once
// What Global reaches beyond the line, provided by the process: the
// sampler while one is loaded, and the two windows.
#include <QVariantMap>
#include <functional>

namespace quorvex {

class Sampler;
struct FinishedCoil;

struct GlobalServices {
    Sampler *sampler = nullptr;            // the loaded sampler, or none
    std::function<void()> showSettings;    // opens the settings dialog, without blocking
    std::function<void(bool)> showSampler; // shows (loading it if needed) or hides the sampler window
    // Records a coil a zeroing has closed; the zeroing answers its caller
    // after it returns (the write takes about a millisecond, outside the
    // sampler's pause).
    std::function<void(const FinishedCoil &)> coilFinished;
    std::function<QVariantMap()> feedStatus; // the plant feed's state, for Diagnostics
};

} // namespace quorvex
