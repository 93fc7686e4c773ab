#include "app/CoilRecorder.h"

#include "common/Logging.h"
#include "common/WallClock.h"
#include "line/Line.h"
#include "line/SettingsReader.h"
#include "tracking/Sampler.h"

#include <chrono>
#include <limits>

namespace quorvex {

namespace {

using namespace std::chrono_literals;

CoilRecord recordOf(const FinishedCoil &coil)
{
    CoilRecord record;
    record.closedUs = coil.closedUs;
    record.length = coil.length;
    record.averageHeight = coil.average;
    record.samples = quint32(coil.samples.size());
    record.profile.reserve(qsizetype(coil.samples.size()));
    for (const Campione &c : coil.samples)
        record.profile.append({c.Posizione, c.Altezza});
    return record;
}

} // namespace

std::optional<int> daysToKeep(const SettingsSnapshot &loaded)
{
    int days = 0; // every coil is kept
    readInto(loaded, settings::Storico, settings::Giorni, days, wholeNumberIn(0, std::numeric_limits<int>::max()),
             QStringLiteral("is not a whole number of days, 0 or more"), lcHistory);
    if (days == 0)
        return std::nullopt;
    return days;
}

CoilRecorder::CoilRecorder(Line &line, CoilStore &store, std::function<bool()> zeroingRunning, QObject *parent)
        : QObject(parent), m_line(line), m_store(store), m_zeroingRunning(std::move(zeroingRunning))
{
    connect(&line, &Line::readingTaken, this, [this](Role role, RoleOperation op, double value) {
        if (role == Role::Bilancia && op == RoleOperation::LeggiPeso)
            weightRead(value);
    });
    connect(&m_daily, &QTimer::timeout, this, &CoilRecorder::prune);
    m_daily.start(24h);
    // At each load (the first at start), with the days it read; queued, so
    // the load is not held up by a long delete.
    connect(&line, &Line::configurationLoaded, this, &CoilRecorder::prune, Qt::QueuedConnection);
}

void CoilRecorder::weightRead(double value)
{
    m_weight = value;
    m_weightReadUs = microsecondsSinceEpoch();
}

void CoilRecorder::coilFinished(const FinishedCoil &coil)
{
    CoilRecord record = recordOf(coil);
    record.weight = std::exchange(m_weight, std::nullopt);
    record.weightReadUs = record.weight ? m_weightReadUs : 0;
    // Written now, in its own transaction, before the zeroing answers its
    // caller: a coil the caller has seen closed survives the server's end
    // in the next instant. A store that fails holds it and tries again.
    m_store.append(record);
}

void CoilRecorder::prune()
{
    const std::optional<int> days = daysToKeep(m_line.loadedSettings());
    if (!days)
        return;
    // A zeroing in progress is never held up by a long delete: try again soon.
    if (m_zeroingRunning && m_zeroingRunning()) {
        QTimer::singleShot(1min, this, &CoilRecorder::prune);
        return;
    }
    const qint64 before = microsecondsSinceEpoch() - qint64(*days) * 24 * 3600 * 1000000;
    const int deleted = m_store.pruneBefore(before);
    if (deleted > 0)
        qCInfo(lcHistory).noquote() << QStringLiteral("%1 coils older than %2 days deleted").arg(deleted).arg(*days);
}

} // namespace quorvex
