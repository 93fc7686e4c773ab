#include "tracking/Zeroing.h"

#include "tracking/Sampler.h"

#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QTimer>

namespace quorvex {

namespace {

// Holds the sampler from construction to destruction, whatever way the
// zeroing ends.
class PauseGuard {
public:
    explicit PauseGuard(Sampler *sampler) : m_sampler(sampler)
    {
        if (m_sampler)
            m_sampler->pause();
    }
    ~PauseGuard()
    {
        if (m_sampler)
            m_sampler->resume();
    }
    PauseGuard(const PauseGuard &) = delete;
    PauseGuard &operator=(const PauseGuard &) = delete;
    Sampler *get() const { return m_sampler; }
    void release()
    {
        if (m_sampler)
            m_sampler->resume();
        m_sampler = nullptr;
    }

private:
    QPointer<Sampler> m_sampler;
};

} // namespace

QCoro::Task<std::optional<double>> AzzeraLunghezza(ZeroingSteps steps, bool misuraMedia, Sampler *sampler,
                                                   QString *notZeroed)
{
    PauseGuard held(misuraMedia ? sampler : nullptr);
    // A tick that has already read the counter must store its length before
    // the counter is zeroed, or the coil's length would be lost.
    if (held.get())
        co_await held.get()->waitForTickToFinish();

    if (steps.zeroCounter) {
        const QString why = co_await steps.zeroCounter();
        if (!why.isEmpty()) {
            if (notZeroed)
                *notZeroed = why;
            co_return std::nullopt;
        }
    }
    // A precise timer: the default coarse one may end the wait 5% early,
    // before the counter has had its time to settle.
    QTimer settle;
    settle.setTimerType(Qt::PreciseTimer);
    settle.setSingleShot(true);
    settle.start(steps.settle);
    co_await qCoro(settle).waitForTimeout();
    for (int i = 0; i < steps.maxReads && steps.readLengthForced; ++i) {
        const double length = co_await steps.readLengthForced();
        if (length < steps.IntervalloDiCampionamento)
            break;
    }

    if (!misuraMedia)
        co_return std::nullopt;
    // Paused since the start, the sampler still holds the length it read
    // before the zero command: the finished coil's length.
    if (!held.get())
        co_return 0.0;
    const FinishedCoil coil = held.get()->closeCoil();
    held.release();
    if (coil.length != 0 && steps.coilFinished)
        steps.coilFinished(coil);
    co_return coil.average;
}

} // namespace quorvex
