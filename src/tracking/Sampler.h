#pragma once
// The sampler: every 50 ms it reads the counted length, keeps it as
// UltimaLunghezza, and records a height sample in the buffer each time the
// length has advanced by the sampling interval. It knows nothing of the
// line: it is given the two readings as callables.
#include "tracking/Campioni.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>
#include <functional>

namespace quorvex {

// A coil as it was closed: what its record keeps.
struct FinishedCoil {
    qint64 closedUs = 0; // microseconds since 1970 UTC
    double length = 0; // the last length the sampler read
    double average = 0; // average height over samples
    std::vector<Campione> samples;
};

class Sampler : public QObject {
    Q_OBJECT
public:
    // A reading of one role's instrument, scaled; a failure gives 0.
    using Reading = std::function<QCoro::Task<double>()>;
    static constexpr int kInterval = 50; // ms between tick starts

    Sampler(Reading readLength, Reading readHeight, QObject *parent = nullptr);

    void setSettings(const HeightSettings &settings) { m_settings = settings; }
    const HeightSettings &settings() const { return m_settings; }

    // Turns the sampling on (what loading the sampler does).
    void start();
    // Flips the sampler between running and paused.
    void SwitchTimer();
    // The running state SwitchTimer flips, and the interval that goes with
    // it: 50 ms when enabled, else 0.
    bool isEnabled() const { return m_enabled; }
    int interval() const { return m_enabled ? kInterval : 0; }
    // Enabled and held by no pause: ticks are being scheduled.
    bool isRunning() const { return m_timer.isActive(); }

    // Holds the sampler; pauses nest, and it runs again when every pause
    // has been released. A tick already in flight goes on to its end.
    void pause();
    void resume();
    int pauseCount() const { return m_pauses; }
    bool isTickRunning() const { return m_ticking; }
    // Completes when no tick is in flight.
    QCoro::Task<> waitForTickToFinish();

    const Campioni &campioni() const { return m_campioni; }
    Campioni &campioni() { return m_campioni; }
    double UltimaLunghezza() const { return m_ultimaLunghezza; }

    // Average height of the coil up to the last length read.
    double MediaAltezze() const;
    // Closes the coil at the last length read L: returns its length, average
    // height and the samples it was averaged over, and rebases the buffer
    // and UltimaLunghezza by -L, so a second close before the next tick
    // shifts nothing again.
    FinishedCoil closeCoil();
    // Height of the material now at the observation point.
    double altezzaAlPuntoDiOsservazione() const;

    // One tick, run to its end. The timer calls it; tests may too.
    QCoro::Task<> tick();

signals:
    void lengthRead(double length);
    void sampleRecorded(double height);
    // End of a tick, with the number of samples in the buffer.
    void tickFinished(int count);

private:
    void onTimeout();
    void startTick();
    void updateTimer();

    Reading m_readLength;
    Reading m_readHeight;
    HeightSettings m_settings = defaultHeightSettings();
    Campioni m_campioni;
    double m_ultimaLunghezza = 0;
    QTimer m_timer;
    bool m_enabled = false;
    int m_pauses = 0;
    bool m_ticking = false;
    bool m_due = false; // a timeout came while a tick was in flight
};

} // namespace quorvex
