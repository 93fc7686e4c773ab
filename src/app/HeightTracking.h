#pragma once
// The server's own height tracking: with MisuraMedia on, the server's own
// Global instance (GlobaleInterno), the Sampler that reads the line through
// it, and the hand-off of each coil a zeroing closes to the coil store. It
// follows every configuration load; the windows only show what it samples.
#include "app/CoilRecorder.h"

#include <QObject>
#include <memory>

namespace quorvex {

class CoilStore;
class Global;
class Line;
class Sampler;
struct FinishedCoil;

class HeightTracking : public QObject {
    Q_OBJECT
public:
    HeightTracking(Line &line, CoilStore &store, QObject *parent = nullptr);
    ~HeightTracking() override;

    // Makes whichever of the server's own instance and the sampler is missing.
    void start();
    // The sampler, made when missing. Without the server's own instance
    // (tracking off) it reads 0.
    Sampler &loadSampler();
    // The loaded sampler, or null.
    Sampler *sampler() const { return m_sampler.get(); }

    // Whether a zeroing holds the sampler now.
    bool zeroingRunning() const;
    // Records a coil a zeroing has closed, before the zeroing answers.
    void coilFinished(const FinishedCoil &coil) { m_recorder.coilFinished(coil); }

signals:
    // A sampler was made: its window loads hidden and starts it.
    void samplerLoaded(Sampler &sampler);

private:
    void configurationLoaded();

    Line &m_line;
    // Declared first, gone last: the sampler reads through it.
    std::unique_ptr<Global> m_globaleInterno;
    std::unique_ptr<Sampler> m_sampler;
    CoilRecorder m_recorder;
};

} // namespace quorvex
