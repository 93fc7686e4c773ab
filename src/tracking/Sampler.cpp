#include "tracking/Sampler.h"

#include "common/WallClock.h"

#include <chrono>

#include <QCoro/QCoroSignal>
#include <QPointer>

namespace quorvex {

namespace {

// A reading that throws counts as a failed reading: 0.
QCoro::Task<double> readOrZero(const Sampler::Reading &read)
{
    if (!read)
        co_return 0.0;
    try {
        co_return co_await read();
    } catch (...) {
        co_return 0.0;
    }
}

} // namespace

Sampler::Sampler(Reading readLength, Reading readHeight, QObject *parent)
        : QObject(parent), m_readLength(std::move(readLength)), m_readHeight(std::move(readHeight))
{
    m_timer.setParent(this);
    m_timer.setObjectName(QStringLiteral("TmrSamples"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kInterval);
    connect(&m_timer, &QTimer::timeout, this, &Sampler::onTimeout);
}

void Sampler::start()
{
    m_enabled = true;
    updateTimer();
}

void Sampler::SwitchTimer()
{
    m_enabled = !m_enabled;
    updateTimer();
}

void Sampler::pause()
{
    ++m_pauses;
    updateTimer();
}

void Sampler::resume()
{
    if (m_pauses > 0)
        --m_pauses;
    updateTimer();
}

void Sampler::updateTimer()
{
    const bool run = m_enabled && m_pauses == 0;
    if (run && !m_timer.isActive())
        m_timer.start();
    else if (!run) {
        m_timer.stop();
        m_due = false;
    }
}

QCoro::Task<> Sampler::waitForTickToFinish()
{
    while (m_ticking)
        co_await qCoro(this, &Sampler::tickFinished);
}

void Sampler::onTimeout()
{
    // Ticks never overlap: a timeout during a tick starts the next one as
    // soon as it ends, so the rate stays at most one tick per interval.
    if (m_ticking)
        m_due = true;
    else
        startTick();
}

void Sampler::startTick()
{
    // The task runs on by itself; its frame lives until the tick ends.
    [](Sampler *self) -> QCoro::Task<> { co_await self->tick(); }(this);
}

QCoro::Task<> Sampler::tick()
{
    m_ticking = true;
    const QPointer<Sampler> alive(this);
    const double L = co_await readOrZero(m_readLength);
    if (!alive)
        co_return;
    emit lengthRead(L);
    m_ultimaLunghezza = L;

    const double x = L + m_settings.DistanzaSensoreArrotolatore;
    const Campione last = m_campioni.isEmpty() ? Campione{} : m_campioni.at(m_campioni.highestIndex());
    if (x - last.Posizione >= m_settings.IntervalloDiCampionamento) {
        // The height is read only when a sample is due. The sample enters
        // the buffer whole, after the reading, so nobody sees it half made.
        const double h = co_await readOrZero(m_readHeight);
        if (!alive)
            co_return;
        m_campioni.append({x, h});
        emit sampleRecorded(h);
    }

    m_ticking = false;
    emit tickFinished(m_campioni.size());
    if (m_due && m_timer.isActive()) {
        m_due = false;
        startTick();
    }
}

double Sampler::MediaAltezze() const
{
    return m_campioni.MediaAltezze(m_ultimaLunghezza, m_settings.IntervalloDiCampionamento);
}

FinishedCoil Sampler::closeCoil()
{
    const double L = m_ultimaLunghezza;
    const double W = m_settings.IntervalloDiCampionamento;
    FinishedCoil coil;
    coil.closedUs = microsecondsSinceEpoch();
    coil.length = L;
    coil.samples = m_campioni.campioniDellaBobina(L, W);
    coil.average = m_campioni.closeCoil(L, W);
    m_ultimaLunghezza -= L;
    return coil;
}

double Sampler::altezzaAlPuntoDiOsservazione() const
{
    return m_campioni.altezzaAlPuntoDiOsservazione(m_ultimaLunghezza, m_settings);
}

} // namespace quorvex
