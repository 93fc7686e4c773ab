#pragma once
// What the edge node keeps for a host that cannot hear it: each change of a
// role's state while the node is not born, on disk in the data folder, and
// the id of the last coil record sent, so the next births tell both as
// historical data (the coils themselves stay in the coil store).
#include "line/InstrumentHealth.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace quorvex {

struct StateChange {
    QString state; // as healthStateName gives it
    qint64 timeMs = 0;
};

class NodeBacklog {
public:
    // Takes what an earlier process left unsent. On the very first start the
    // coils recorded so far (up to newestCoil) are history the node never had
    // to tell.
    void load(std::optional<qint64> newestCoil);

    // Notes the state of each device now; a change is kept when keep (the
    // node is not born), the oldest dropped past the bound.
    void note(const QList<RoleHealth> &devices, bool keep, qint64 timeMs);
    // Forgets what was kept for a device not among these.
    void keepOnly(const QList<RoleHealth> &devices);
    // The kept changes of a device, oldest first; no longer kept.
    QList<StateChange> take(const QString &device);

    qint64 lastCoilSent() const { return m_lastCoilSent; }
    void coilSent(qint64 id);

private:
    QList<QByteArray> m_changes; // JSON lines, as kept on disk
    bool m_dropWarned = false;
    std::array<std::optional<HealthState>, kRoleCount> m_known; // as last seen, born or not
    qint64 m_lastCoilSent = 0;
};

} // namespace quorvex
