#pragma once
// Zeroing the counted length at the end of a coil: the zero command, a
// pause for the counter to settle, reads until it shows zero, and, when
// height tracking is on, the coil's average and the rebased buffer, with
// the sampler held meanwhile.
#include <QCoro/QCoroTask>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace quorvex {

class Sampler;
struct FinishedCoil;

struct ZeroingSteps {
    // Sends the counter its zero command; gives why the counter did not
    // zero (no answer, a refused write, no port, ...), empty when it did.
    std::function<QCoro::Task<QString>()> zeroCounter;
    // Reads the counter now (never the sampler's cached length); failures 0.
    std::function<QCoro::Task<double>()> readLengthForced;
    // A reading below this ends the wait for the zero.
    double IntervalloDiCampionamento = 0.2;
    std::chrono::milliseconds settle{500};
    int maxReads = 5;
    // Given the coil just closed, once this zeroing has let the sampler go
    // and before it answers; not called when nothing was wound since the
    // last close (length 0), so two zeroings at once hand over one coil, not
    // the same one twice.
    std::function<void(const FinishedCoil &)> coilFinished = {};
};

// Runs the zeroing. With misuraMedia off it only zeroes, waits and reads,
// and gives nullopt. With it on, the sampler (when there is one) is paused
// for the whole sequence, a tick in flight is let finish before the zero
// command, and the result is the finished coil's average height (0 without
// a sampler). A zero command that was not done ends the zeroing at once:
// the counter still counts the same coil, so no coil is closed, the buffer
// stays as it is, the result is nullopt and notZeroed (when given) says
// why. The sampler is resumed even when a step throws; the error then goes
// on to the caller.
QCoro::Task<std::optional<double>> AzzeraLunghezza(ZeroingSteps steps, bool misuraMedia, Sampler *sampler,
                                                   QString *notZeroed = nullptr);

} // namespace quorvex
