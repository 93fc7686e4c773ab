#pragma once
// Turns each coil a zeroing closes into a record in the coil store, with the
// last weight read through the scale role while it was wound, and keeps the
// store to the days the settings ask for ([Storico] Giorni).
#include "history/CoilStore.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

namespace quorvex {

class Line;
class SettingsSnapshot;
struct FinishedCoil;

class CoilRecorder : public QObject {
    Q_OBJECT
public:
    // zeroingRunning: whether a zeroing holds the sampler now (no pruning then).
    CoilRecorder(Line &line, CoilStore &store, std::function<bool()> zeroingRunning, QObject *parent = nullptr);

    // Records the coil with its weight at once (the zeroing answers its
    // caller only after this returns, the sampler already let go).
    void coilFinished(const FinishedCoil &coil);

    // Deletes the records older than [Storico] Giorni days, if the last
    // load set it: after each load, and daily.
    void prune();

private:
    void weightRead(double value);

    const Line &m_line;
    CoilStore &m_store;
    std::function<bool()> m_zeroingRunning;
    std::optional<double> m_weight;
    qint64 m_weightReadUs = 0;
    QTimer m_daily;
};

// [Storico] Giorni as a load read it, a number of days; nullopt to keep
// everything (0, the default, or a value that is not a whole number, with a
// warning).
std::optional<int> daysToKeep(const SettingsSnapshot &loaded);

} // namespace quorvex
