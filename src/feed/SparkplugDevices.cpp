// The edge node's devices: their births, data and deaths, the coils and the
// state changes kept while no host could hear them.
#include "feed/SparkplugNode.h"

#include "common/Logging.h"
#include "feed/SparkplugPayload.h"
#include "line/PublishedValues.h"

namespace quorvex {

namespace {

constexpr const char *kCoils = "Bobine";
constexpr const char *kState = published(Value::Stato).sparkplug;
// Coil records sent from the store after a birth, per query.
constexpr int kCoilBatch = 100;
// A device's readings go out at most this often.
constexpr qint64 kIntervalMs = 500;

// The readings of the table a role's device carries, by operation.
bool isReading(RoleOperation op)
{
    const std::optional<Value> value = valueOfOperation(op);
    return value && published(*value).source == ValueSource::Reading && published(*value).sparkplug;
}

// The metric of a reading.
const char *metricName(RoleOperation op)
{
    return published(*valueOfOperation(op)).sparkplug;
}

} // namespace

void SparkplugNode::deviceBirth(const RoleHealth &role)
{
    const qint64 t = spb::now();
    sparkplug::Payload payload;
    payload.set_timestamp(quint64(t));
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Reading || !row.sparkplug || row.role != role.role)
            continue;
        const RoleOperation op = *row.operation;
        const std::optional<FeedReading> &last = m_last[size_t(op)];
        spb::addDouble(payload, row.sparkplug, last ? std::optional(last->value) : std::nullopt,
                       last ? last->msecsSinceEpoch : t);
        // What the birth told is what the host holds: data carries changes from it.
        m_sent[size_t(op)] = last ? std::optional(last->value) : std::nullopt;
        m_pending[size_t(op)].reset();
    }
    spb::addText(payload, kState, healthStateName(role.state), t);
    publish("DBIRTH", role.roleName(), payload);
    m_bornDevices.append(role);
    sendBacklog(role.roleName());
}

// The last coil with its close time, then, oldest first, every coil closed
// since the last one sent, as historical data.
void SparkplugNode::coilBirth()
{
    sparkplug::Payload payload;
    payload.set_timestamp(quint64(spb::now()));
    const std::optional<CoilRecord> last = m_sources.lastCoil ? m_sources.lastCoil() : std::nullopt;
    spb::addCoil(payload, last, last ? last->closedUs / 1000 : spb::now());
    publish("DBIRTH", QLatin1String(kCoils), payload);
    if (!m_sources.coilsAfter)
        return;
    for (;;) {
        const QList<CoilRecord> unsent = m_sources.coilsAfter(m_backlog.lastCoilSent(), kCoilBatch);
        for (const CoilRecord &record : unsent)
            sendCoil(record, true);
        if (unsent.size() < kCoilBatch || !m_born)
            break;
    }
}

void SparkplugNode::sendCoil(const CoilRecord &record, bool historical)
{
    sparkplug::Payload payload;
    payload.set_timestamp(quint64(spb::now()));
    spb::addCoil(payload, record, record.closedUs / 1000, historical);
    publish("DDATA", QLatin1String(kCoils), payload);
    m_backlog.coilSent(record.id);
}

// Each metric of a device has its own pending value: a DDATA, at most
// every kIntervalMs per device, carries every metric that changed since
// the device's last data, and a value equal to the one the host holds is
// not sent again.
void SparkplugNode::takeReading(Role role, RoleOperation op, double value)
{
    if (!isReading(op))
        return;
    const FeedReading reading{value, op, spb::now()};
    // Kept while the broker is away too: the next birth tells it.
    m_last[size_t(op)] = reading;
    if (!m_born)
        return;
    if (m_sent[size_t(op)] == value && !m_pending[size_t(op)])
        return;
    m_pending[size_t(op)] = reading;
    QTimer &timer = m_readingTimers[size_t(role)];
    if (timer.isActive())
        return;
    const QElapsedTimer &last = m_lastReadingsSent[size_t(role)];
    const qint64 since = last.isValid() ? last.elapsed() : kIntervalMs;
    if (since >= kIntervalMs)
        sendReadings(role);
    else
        timer.start(int(kIntervalMs - since));
}

void SparkplugNode::sendReadings(Role role)
{
    const auto born = std::find_if(m_bornDevices.cbegin(), m_bornDevices.cend(),
                                   [role](const RoleHealth &h) { return h.role == role; });
    sparkplug::Payload payload;
    payload.set_timestamp(quint64(spb::now()));
    for (int op = 0; op < kRoleOperationCount; ++op) {
        std::optional<FeedReading> &pending = m_pending[size_t(op)];
        if (roleOf(RoleOperation(op)) != role || !pending)
            continue;
        if (m_sent[size_t(op)] != pending->value)
            spb::addDouble(payload, metricName(RoleOperation(op)), pending->value, pending->msecsSinceEpoch);
        m_sent[size_t(op)] = pending->value;
        pending.reset();
    }
    if (!m_born || born == m_bornDevices.cend() || payload.metrics_size() == 0)
        return;
    publish("DDATA", born->roleName(), payload);
    m_lastReadingsSent[size_t(role)].start();
}

// A coil closed while the node is not born stays in the store: the next
// birth sends it.
void SparkplugNode::coilRecorded(const CoilRecord &record)
{
    if (m_born && record.id > m_backlog.lastCoilSent())
        sendCoil(record, false);
}

// A device is alive while its instrument can answer: a role that is no
// more, or whose instrument is silent, closed or gone, dies (its last values
// are no longer good); it is born again, with its values now, when it
// answers. Each change of a role's state while the node is not born is kept
// for the births. The born devices are found by index: an iterator taken
// before a write to the list would point into the copy the write detached
// from.
void SparkplugNode::healthChanged()
{
    if (!enabled() || !m_sources.health)
        return;
    m_backlog.note(devices(m_sources.health()), !m_born, spb::now());
    if (!m_born)
        return;
    // A load that changed the roles or a role's model: the host learns the
    // node anew.
    if (configuredModels() != m_bornModels) {
        qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: the roles or their models changed: born again");
        birth();
        return;
    }
    const QList<RoleHealth> now = liveDevices();
    const auto indexOf = [](const QList<RoleHealth> &list, Role role) -> qsizetype {
        for (qsizetype i = 0; i < list.size(); ++i)
            if (list[i].role == role)
                return i;
        return -1;
    };
    for (qsizetype i = m_bornDevices.size() - 1; i >= 0; --i) {
        if (indexOf(now, m_bornDevices[i].role) >= 0)
            continue;
        sparkplug::Payload payload;
        payload.set_timestamp(quint64(spb::now()));
        publish("DDEATH", m_bornDevices[i].roleName(), payload);
        m_bornDevices.removeAt(i);
    }
    for (const RoleHealth &role : now) {
        if (indexOf(m_bornDevices, role.role) < 0)
            deviceBirth(role);
    }
}

// The kept state changes of a device just born, oldest first, as
// historical Stato data with the time of each change.
void SparkplugNode::sendBacklog(const QString &device)
{
    for (const StateChange &change : m_backlog.take(device)) {
        sparkplug::Payload payload;
        payload.set_timestamp(quint64(spb::now()));
        spb::Metric *metric = spb::addMetric(payload, kState, sparkplug::String, change.timeMs);
        metric->set_string_value(change.state.toStdString());
        metric->set_is_historical(true);
        publish("DDATA", device, payload);
    }
}

QStringList SparkplugNode::configuredModels() const
{
    QStringList models;
    for (const RoleHealth &role : devices(m_sources.health ? m_sources.health() : QList<RoleHealth>()))
        models << QStringLiteral("%1=%2 %3").arg(role.roleName(), role.brand, role.model);
    return models;
}

QList<RoleHealth> SparkplugNode::liveDevices() const
{
    QList<RoleHealth> live;
    for (const RoleHealth &role : devices(m_sources.health ? m_sources.health() : QList<RoleHealth>()))
        if (role.state == HealthState::Ok)
            live.append(role);
    return live;
}

QList<RoleHealth> SparkplugNode::devices(const QList<RoleHealth> &health)
{
    QList<RoleHealth> roles;
    for (const RoleHealth &role : health) {
        if (role.role != Role::Servizio)
            roles.append(role);
    }
    return roles;
}

} // namespace quorvex
