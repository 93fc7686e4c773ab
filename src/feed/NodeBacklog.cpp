#include "feed/NodeBacklog.h"

#include "common/Logging.h"
#include "feed/NodeFiles.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quorvex {

namespace {

// State changes kept while the host cannot hear; the oldest goes beyond.
constexpr int kMaxBacklog = 1000;

QString deviceOf(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object().value(QStringLiteral("device")).toString();
}

} // namespace

void NodeBacklog::load(std::optional<qint64> newestCoil)
{
    m_changes = readBacklog();
    const std::optional<qint64> lastCoil = readLastCoilSent();
    m_lastCoilSent = lastCoil.value_or(newestCoil.value_or(0));
    if (!lastCoil)
        writeLastCoilSent(m_lastCoilSent);
}

void NodeBacklog::note(const QList<RoleHealth> &devices, bool keep, qint64 timeMs)
{
    std::array<HealthState, kRoleCount> states;
    states.fill(HealthState::Unconfigured);
    for (const RoleHealth &role : devices)
        states[size_t(role.role)] = role.state;
    bool added = false;
    for (int role = 0; role < kRoleCount; ++role) {
        const std::optional<HealthState> before = std::exchange(m_known[size_t(role)], states[size_t(role)]);
        if (!keep || !before || *before == states[size_t(role)] || Role(role) == Role::Servizio)
            continue;
        const QJsonObject change{{QStringLiteral("device"), QLatin1String(roleGroup(Role(role)))},
                                 {QStringLiteral("state"), QLatin1String(healthStateName(states[size_t(role)]))},
                                 {QStringLiteral("time"), timeMs}};
        m_changes.append(QJsonDocument(change).toJson(QJsonDocument::Compact));
        added = true;
    }
    if (!added)
        return;
    while (m_changes.size() > kMaxBacklog) {
        const QByteArray dropped = m_changes.takeFirst();
        if (!std::exchange(m_dropWarned, true))
            qCWarning(lcFeed).noquote()
                << QStringLiteral("Sparkplug B: more than %1 state changes wait for the host: the oldest are "
                                  "lost, first %2")
                       .arg(kMaxBacklog)
                       .arg(QString::fromUtf8(dropped));
    }
    writeBacklog(m_changes);
}

void NodeBacklog::keepOnly(const QList<RoleHealth> &devices)
{
    const qsizetype removed = m_changes.removeIf([&devices](const QByteArray &line) {
        const QString device = deviceOf(line);
        return std::none_of(devices.begin(), devices.end(),
                            [&device](const RoleHealth &role) { return role.roleName() == device; });
    });
    if (removed > 0)
        writeBacklog(m_changes);
}

QList<StateChange> NodeBacklog::take(const QString &device)
{
    QList<StateChange> taken;
    QList<QByteArray> kept;
    for (const QByteArray &line : std::as_const(m_changes)) {
        const QJsonObject change = QJsonDocument::fromJson(line).object();
        if (change.value(QStringLiteral("device")).toString() != device) {
            kept.append(line);
            continue;
        }
        taken.append(
            {change.value(QStringLiteral("state")).toString(), change.value(QStringLiteral("time")).toInteger()});
    }
    if (taken.isEmpty())
        return taken;
    m_changes = kept;
    m_dropWarned = false;
    writeBacklog(m_changes);
    return taken;
}

void NodeBacklog::coilSent(qint64 id)
{
    m_lastCoilSent = id;
    writeLastCoilSent(id);
}

} // namespace quorvex
