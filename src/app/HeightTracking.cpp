#include "app/HeightTracking.h"

#include "api/Global.h"
#include "line/Line.h"
#include "tracking/Sampler.h"

namespace quorvex {

HeightTracking::HeightTracking(Line &line, CoilStore &store, QObject *parent)
        : QObject(parent), m_line(line), m_recorder(line, store, [this] { return zeroingRunning(); })
{
    connect(&m_line, &Line::configurationLoaded, this, &HeightTracking::configurationLoaded);
}

HeightTracking::~HeightTracking() = default;

void HeightTracking::start()
{
    // The server's own instance only reads forced, so it needs nothing of
    // the process beyond the line.
    if (!m_globaleInterno)
        m_globaleInterno = std::make_unique<Global>(m_line);
    loadSampler();
}

Sampler &HeightTracking::loadSampler()
{
    if (m_sampler)
        return *m_sampler;
    // The sampler reads through the server's own instance, forced; without
    // that instance there is nothing to read with, and readings are 0.
    auto read = [this](bool length) -> QCoro::Task<double> {
        if (!m_globaleInterno)
            co_return 0.0;
        // Not a conditional expression: GCC 12 runs the awaits of both its
        // branches, which read both instruments on every tick.
        if (length)
            co_return co_await m_globaleInterno->LeggiLunghezza(true);
        co_return co_await m_globaleInterno->LeggiAltezza(true);
    };
    m_sampler = std::make_unique<Sampler>([read] { return read(true); }, [read] { return read(false); });
    m_sampler->setSettings(m_line.height());
    emit samplerLoaded(*m_sampler);
    return *m_sampler;
}

bool HeightTracking::zeroingRunning() const
{
    return m_sampler && m_sampler->pauseCount() > 0;
}

void HeightTracking::configurationLoaded()
{
    if (m_sampler)
        m_sampler->setSettings(m_line.height());
    // Switched on at run time: tracking starts now, without a restart, and
    // reads through the server's own instance even when the sampler was
    // loaded before without one. A switch off leaves a running sampler
    // running.
    if (m_line.height().MisuraMedia)
        start();
}

} // namespace quorvex
