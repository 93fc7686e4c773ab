#include "feed/SparkplugNode.h"

#include "common/Logging.h"
#include "feed/NodeFiles.h"
#include "feed/SparkplugCommand.h"
#include "line/PublishedValues.h"

#include "sparkplug_b.pb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace quorvex {

namespace {

namespace sp = quorvex::sparkplug;
using Metric = sp::Payload::Metric;

constexpr const char *kCoils = "Bobine";
constexpr const char *kState = published(Value::Stato).sparkplug;
constexpr const char *kRebirth = "Node Control/Rebirth";
// Coil records sent from the store after a birth, per query.
constexpr int kCoilBatch = 100;
// State changes kept while the host cannot hear; the oldest goes beyond.
constexpr int kMaxBacklog = 1000;
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

sp::DataType dataType(PublishedType type)
{
    switch (type) {
    case PublishedType::Double: return sp::Double;
    case PublishedType::String: return sp::String;
    case PublishedType::UInt16: return sp::UInt16;
    case PublishedType::UInt32: return sp::UInt32;
    case PublishedType::UInt64: return sp::UInt64;
    case PublishedType::Int32: return sp::Int32;
    case PublishedType::Int64: return sp::Int64;
    case PublishedType::DateTime: return sp::DateTime;
    case PublishedType::Profile: return sp::DataSet;
    }
    return sp::Unknown;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

Metric *addMetric(sp::Payload &payload, const char *name, sp::DataType type, qint64 timestamp)
{
    Metric *metric = payload.add_metrics();
    metric->set_name(name);
    metric->set_datatype(type);
    metric->set_timestamp(quint64(timestamp));
    return metric;
}

void addDouble(sp::Payload &payload, const char *name, std::optional<double> value, qint64 timestamp)
{
    Metric *metric = addMetric(payload, name, sp::Double, timestamp);
    if (value)
        metric->set_double_value(*value);
    else
        metric->set_is_null(true);
}

void addText(sp::Payload &payload, const char *name, const char *value, qint64 timestamp)
{
    addMetric(payload, name, sp::String, timestamp)->set_string_value(value);
}

// A value of the table as a metric; null when the value is.
void addValue(sp::Payload &payload, const PublishedValue &row, const QVariant &value, qint64 timestamp)
{
    Metric *metric = addMetric(payload, row.sparkplug, dataType(row.type), timestamp);
    if (row.type == PublishedType::Profile) {
        // A data set of (Lunghezza, Altezza) rows, its columns told even when empty.
        sp::Payload::DataSet *set = metric->mutable_dataset_value();
        set->set_num_of_columns(2);
        set->add_columns("Lunghezza");
        set->add_columns("Altezza");
        set->add_types(sp::Double);
        set->add_types(sp::Double);
        for (const QPointF &sample : value.value<QList<QPointF>>()) {
            sp::Payload::DataSet::Row *r = set->add_rows();
            r->add_elements()->set_double_value(sample.x());
            r->add_elements()->set_double_value(sample.y());
        }
        return;
    }
    if (value.isNull()) {
        metric->set_is_null(true);
        return;
    }
    switch (row.type) {
    case PublishedType::Double: metric->set_double_value(value.toDouble()); break;
    case PublishedType::String: metric->set_string_value(value.toString().toStdString()); break;
    case PublishedType::UInt16:
    case PublishedType::UInt32:
    case PublishedType::Int32: metric->set_int_value(value.toUInt()); break;
    default: metric->set_long_value(quint64(value.toLongLong())); break;
    }
}

// The coil device's metrics, the coil rows of the table with a metric name:
// all null before the first coil.
void addCoil(sp::Payload &payload, const std::optional<CoilRecord> &coil, qint64 timestamp, bool historical = false)
{
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Coil || !row.sparkplug)
            continue;
        addValue(payload, row, coil ? coilValue(*coil, row.value) : QVariant(), timestamp);
        payload.mutable_metrics(payload.metrics_size() - 1)->set_is_historical(historical);
    }
}

QByteArray serialized(const sp::Payload &payload)
{
    QByteArray bytes(qsizetype(payload.ByteSizeLong()), Qt::Uninitialized);
    payload.SerializeToArray(bytes.data(), int(bytes.size()));
    return bytes;
}

} // namespace

SparkplugNode::SparkplugNode(Sources sources, QObject *parent)
        : QObject(parent), m_sources(std::move(sources))
{
    for (int role = 0; role < kRoleCount; ++role) {
        QTimer &timer = m_readingTimers[size_t(role)];
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this, role] { sendReadings(Role(role)); });
    }
    connect(&m_client, &MqttClient::connected, this, &SparkplugNode::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, &SparkplugNode::endSession);
    connect(&m_client, &MqttClient::received, this, &SparkplugNode::onReceived);
    // Every CONNECT attempt takes the next bdSeq, kept in the data folder so
    // a restarted server never reuses its predecessor's: a late death of an
    // abandoned attempt or an earlier process never matches a live birth.
    // The Will carries it, the birth on that connection tells the same.
    m_client.setWillSource([this] {
        if (!m_bdSeqRead)
            m_bdSeq = readLastBdSeq().value_or(255);
        m_bdSeqRead = true;
        m_bdSeq = (m_bdSeq + 1) % 256;
        writeLastBdSeq(m_bdSeq);
        return deathPayload();
    });
    m_healthTick.setInterval(1000);
    connect(&m_healthTick, &QTimer::timeout, this, &SparkplugNode::healthChanged);
}

SparkplugNode::~SparkplugNode()
{
    shutdown();
}

void SparkplugNode::configure(const FeedSettings &settings)
{
    if (settings == m_settings)
        return;
    shutdown();
    m_settings = settings;
    m_hostOnline = false;
    m_hostTimestamp = -1;
    if (!enabled())
        return;
    // What an earlier process left unsent; on the very first start, the
    // coils recorded so far are history the node never had to tell.
    m_backlog = readBacklog();
    const std::optional<qint64> lastCoil = readLastCoilSent();
    const std::optional<CoilRecord> newest = m_sources.lastCoil ? m_sources.lastCoil() : std::nullopt;
    m_lastCoilSent = lastCoil.value_or(newest ? newest->id : 0);
    if (!lastCoil)
        writeLastCoilSent(m_lastCoilSent);
    MqttEndpoint endpoint = m_settings.endpoint(QStringLiteral("-spb"), QStringLiteral("Sparkplug B: "));
    endpoint.willTopic = topic("NDEATH");
    endpoint.willRetained = false;
    m_client.start(endpoint);
}

void SparkplugNode::shutdown()
{
    if (m_client.isConnected())
        m_client.publish(topic("NDEATH"), deathPayload(), 1, false);
    m_client.stop();
    endSession();
}

bool SparkplugNode::waitingForHost() const
{
    return enabled() && !m_settings.primaryHost.isEmpty() && !m_born;
}

QVariantMap SparkplugNode::status() const
{
    static const char *const kStates[] = {"off", "connecting", "connected", "waiting"};
    QVariantMap status{
        {QStringLiteral("state"), QLatin1String(enabled() ? kStates[int(m_client.state())] : "off")},
        {QStringLiteral("group"), m_settings.group},
        {QStringLiteral("bdSeq"), m_bdSeq},
        {QStringLiteral("server"), m_client.broker().text()},
        {QStringLiteral("primaryHost"), m_settings.primaryHost},
        {QStringLiteral("problem"), m_client.problem()},
    };
    const bool waiting = m_client.isConnected() && waitingForHost();
    status.insert(QStringLiteral("waitingForHost"), waiting);
    if (waiting)
        status.insert(QStringLiteral("problem"),
                      QStringLiteral("waiting for primary host %1").arg(m_settings.primaryHost));
    return status;
}

QByteArray SparkplugNode::stateTopic() const
{
    return QStringLiteral("spBv1.0/STATE/%1").arg(m_settings.primaryHost).toUtf8();
}

QByteArray SparkplugNode::topic(const char *type, const QString &device) const
{
    QString t = QStringLiteral("spBv1.0/%1/%2/%3").arg(m_settings.group, QLatin1String(type), m_settings.line);
    if (!device.isEmpty())
        t += QLatin1Char('/') + device;
    return t.toUtf8();
}

QByteArray SparkplugNode::deathPayload() const
{
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    addMetric(payload, "bdSeq", sp::Int64, now())->set_long_value(quint64(m_bdSeq));
    return serialized(payload);
}

// Every metric but bdSeq has an alias, unique in the node and the same for
// the life of the process; births name the metrics beside their aliases,
// data carries the aliases alone. NBIRTH has seq 0, every later message
// one more.
void SparkplugNode::publish(const char *type, const QString &device, sp::Payload &payload)
{
    const bool birth = std::strstr(type, "BIRTH") != nullptr;
    for (int i = 0; i < payload.metrics_size(); ++i) {
        Metric *metric = payload.mutable_metrics(i);
        if (metric->name() == "bdSeq")
            continue;
        const QString key = device + QLatin1Char('/') + QString::fromStdString(metric->name());
        quint64 alias = m_aliases.value(key);
        if (alias == 0) {
            alias = quint64(m_aliases.size()) + 1;
            m_aliases.insert(key, alias);
        }
        metric->set_alias(alias);
        if (!birth)
            metric->clear_name();
    }
    m_seq = std::strcmp(type, "NBIRTH") == 0 ? 0 : (m_seq + 1) % 256;
    payload.set_seq(quint64(m_seq));
    m_client.publish(topic(type, device), serialized(payload), 0, false);
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

void SparkplugNode::onConnected()
{
    if (!m_client.isConnected())
        return;
    // Commands are listened to before the birth, so a host's rebirth request
    // answering it is not missed.
    m_client.subscribe(topic("NCMD"), 1);
    m_client.subscribe(topic("DCMD", QStringLiteral("+")), 1);
    // With a primary host, nothing is published before it says it is
    // online: its retained STATE answers the subscription.
    if (!m_settings.primaryHost.isEmpty()) {
        m_client.subscribe(stateTopic(), 1);
        qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: waiting for primary host %1").arg(m_settings.primaryHost);
        return;
    }
    birth();
}

// The host's STATE: {"online":bool,"timestamp":ms} (a STATE older than the
// last one seen is stale and ignored), or plain ONLINE / OFFLINE as hosts
// of the older convention publish it.
void SparkplugNode::hostState(const QByteArray &payload)
{
    bool online = false;
    const QByteArray plain = payload.trimmed();
    if (plain == "ONLINE" || plain == "OFFLINE") {
        online = plain == "ONLINE";
    } else {
        const QJsonObject state = QJsonDocument::fromJson(payload).object();
        if (!state.value(QStringLiteral("online")).isBool()) {
            qCDebug(lcFeed).noquote() << QStringLiteral("Sparkplug B: a STATE of %1 that is not one ignored: %2")
                                             .arg(m_settings.primaryHost, QString::fromUtf8(payload.left(200)));
            return;
        }
        const qint64 timestamp = state.value(QStringLiteral("timestamp")).toInteger(-1);
        if (timestamp < m_hostTimestamp) {
            qCDebug(lcFeed).noquote() << QStringLiteral("Sparkplug B: a STATE of %1 older than the last one ignored")
                                             .arg(m_settings.primaryHost);
            return;
        }
        m_hostTimestamp = timestamp;
        online = state.value(QStringLiteral("online")).toBool();
    }
    m_hostOnline = online;
    if (online) {
        if (!m_born && m_client.isConnected()) {
            qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: primary host %1 online").arg(m_settings.primaryHost);
            birth();
        }
        return;
    }
    if (!m_born)
        return; // still waiting
    // The host that listened is gone: this session ends with its death and
    // the node waits for the host again on the next broker of the list.
    qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: primary host %1 offline: waiting for it on %2")
                                    .arg(m_settings.primaryHost, m_client.broker().text());
    m_client.publish(topic("NDEATH"), deathPayload(), 1, false);
    endSession();
    m_client.moveOn();
}

void SparkplugNode::endSession()
{
    m_born = false;
    for (QTimer &timer : m_readingTimers)
        timer.stop();
    for (std::optional<FeedReading> &pending : m_pending)
        pending.reset();
    m_healthTick.stop();
}

// NBIRTH with seq 0, then the birth of every device.
void SparkplugNode::birth()
{
    const qint64 t = now();
    sp::Payload payload;
    payload.set_timestamp(quint64(t));
    addMetric(payload, "bdSeq", sp::Int64, t)->set_long_value(quint64(m_bdSeq));
    addMetric(payload, kRebirth, sp::Boolean, t)->set_boolean_value(false);
    addText(payload, "Properties/Version", QCoreApplication::applicationVersion().toUtf8().constData(), t);
    publish("NBIRTH", {}, payload);
    m_born = true;
    m_bornModels = configuredModels();
    m_bornDevices.clear();
    // What a role no longer configured kept is for no device.
    const QList<RoleHealth> configured = devices(m_sources.health ? m_sources.health() : QList<RoleHealth>());
    const qsizetype kept = m_backlog.size();
    m_backlog.removeIf([&configured](const QByteArray &line) {
        const QString device = QJsonDocument::fromJson(line).object().value(QStringLiteral("device")).toString();
        return std::none_of(configured.begin(), configured.end(),
                            [&device](const RoleHealth &role) { return role.roleName() == device; });
    });
    if (m_backlog.size() != kept)
        writeBacklog(m_backlog);
    for (const RoleHealth &role : liveDevices())
        deviceBirth(role);
    coilBirth();
    m_healthTick.start();
}

void SparkplugNode::deviceBirth(const RoleHealth &role)
{
    const qint64 t = now();
    sp::Payload payload;
    payload.set_timestamp(quint64(t));
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Reading || !row.sparkplug || row.role != role.role)
            continue;
        const RoleOperation op = *row.operation;
        const std::optional<FeedReading> &last = m_last[size_t(op)];
        addDouble(payload, row.sparkplug, last ? std::optional(last->value) : std::nullopt,
                  last ? last->msecsSinceEpoch : t);
        // What the birth told is what the host holds: data carries changes from it.
        m_sent[size_t(op)] = last ? std::optional(last->value) : std::nullopt;
        m_pending[size_t(op)].reset();
    }
    addText(payload, kState, healthStateName(role.state), t);
    publish("DBIRTH", role.roleName(), payload);
    m_bornDevices.append(role);
    sendBacklog(role.roleName());
}

// The last coil with its close time, then, oldest first, every coil closed
// since the last one sent, as historical data.
void SparkplugNode::coilBirth()
{
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    const std::optional<CoilRecord> last = m_sources.lastCoil ? m_sources.lastCoil() : std::nullopt;
    addCoil(payload, last, last ? last->closedUs / 1000 : now());
    publish("DBIRTH", QLatin1String(kCoils), payload);
    if (!m_sources.coilsAfter)
        return;
    for (;;) {
        const QList<CoilRecord> unsent = m_sources.coilsAfter(m_lastCoilSent, kCoilBatch);
        for (const CoilRecord &record : unsent)
            sendCoil(record, true);
        if (unsent.size() < kCoilBatch || !m_born)
            break;
    }
}

void SparkplugNode::sendCoil(const CoilRecord &record, bool historical)
{
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    addCoil(payload, record, record.closedUs / 1000, historical);
    publish("DDATA", QLatin1String(kCoils), payload);
    m_lastCoilSent = record.id;
    writeLastCoilSent(record.id);
}

// Each metric of a device has its own pending value: a DDATA, at most
// every kIntervalMs per device, carries every metric that changed since
// the device's last data, and a value equal to the one the host holds is
// not sent again.
void SparkplugNode::takeReading(Role role, RoleOperation op, double value)
{
    if (!isReading(op))
        return;
    const FeedReading reading{value, op, now()};
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
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    for (int op = 0; op < kRoleOperationCount; ++op) {
        std::optional<FeedReading> &pending = m_pending[size_t(op)];
        if (roleOf(RoleOperation(op)) != role || !pending)
            continue;
        if (m_sent[size_t(op)] != pending->value)
            addDouble(payload, metricName(RoleOperation(op)), pending->value, pending->msecsSinceEpoch);
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
    if (m_born && record.id > m_lastCoilSent)
        sendCoil(record, false);
}

// A device is alive while its instrument can answer: a role that is no
// more, or whose instrument is silent, closed or gone, dies (its last values
// are no longer good); it is born again, with its values now, when it
// answers. The born devices are found by index: an iterator taken before a
// write to the list would point into the copy the write detached from.
void SparkplugNode::healthChanged()
{
    if (!enabled() || !m_sources.health)
        return;
    noteStateChanges();
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
        sp::Payload payload;
        payload.set_timestamp(quint64(quorvex::now()));
        publish("DDEATH", m_bornDevices[i].roleName(), payload);
        m_bornDevices.removeAt(i);
    }
    for (const RoleHealth &role : now) {
        if (indexOf(m_bornDevices, role.role) < 0)
            deviceBirth(role);
    }
}

// Each change of a role's state, kept on disk while the host cannot hear it
// (the node is not born); the births send them as historical data.
void SparkplugNode::noteStateChanges()
{
    std::array<HealthState, kRoleCount> states;
    states.fill(HealthState::Unconfigured);
    for (const RoleHealth &role : devices(m_sources.health()))
        states[size_t(role.role)] = role.state;
    const qint64 t = now();
    bool added = false;
    for (int role = 0; role < kRoleCount; ++role) {
        const std::optional<HealthState> before = std::exchange(m_knownStates[size_t(role)], states[size_t(role)]);
        if (m_born || !before || *before == states[size_t(role)] || Role(role) == Role::Servizio)
            continue;
        const QJsonObject change{{QStringLiteral("device"), QLatin1String(roleGroup(Role(role)))},
                                 {QStringLiteral("state"), QLatin1String(healthStateName(states[size_t(role)]))},
                                 {QStringLiteral("time"), t}};
        m_backlog.append(QJsonDocument(change).toJson(QJsonDocument::Compact));
        added = true;
    }
    if (!added)
        return;
    while (m_backlog.size() > kMaxBacklog) {
        const QByteArray dropped = m_backlog.takeFirst();
        if (!std::exchange(m_backlogDropWarned, true))
            qCWarning(lcFeed).noquote()
                << QStringLiteral("Sparkplug B: more than %1 state changes wait for the host: the oldest are "
                                  "lost, first %2")
                       .arg(kMaxBacklog)
                       .arg(QString::fromUtf8(dropped));
    }
    writeBacklog(m_backlog);
}

// The kept state changes of a device just born, oldest first, as
// historical Stato data with the time of each change.
void SparkplugNode::sendBacklog(const QString &device)
{
    QList<QByteArray> kept;
    for (const QByteArray &line : std::as_const(m_backlog)) {
        const QJsonObject change = QJsonDocument::fromJson(line).object();
        if (change.value(QStringLiteral("device")).toString() != device) {
            kept.append(line);
            continue;
        }
        const qint64 t = change.value(QStringLiteral("time")).toInteger();
        sp::Payload payload;
        payload.set_timestamp(quint64(now()));
        Metric *metric = addMetric(payload, kState, sp::String, t);
        metric->set_string_value(change.value(QStringLiteral("state")).toString().toStdString());
        metric->set_is_historical(true);
        publish("DDATA", device, payload);
    }
    if (kept.size() == m_backlog.size())
        return;
    m_backlog = kept;
    m_backlogDropWarned = false;
    writeBacklog(m_backlog);
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

void SparkplugNode::onReceived(const QByteArray &topic, const QByteArray &payload)
{
    const QString where = QString::fromUtf8(topic);
    if (!m_settings.primaryHost.isEmpty() && topic == stateTopic()) {
        hostState(payload);
        return;
    }
    if (topic != this->topic("NCMD")) {
        qCDebug(lcFeed).noquote() << QStringLiteral("Sparkplug command on %1 refused: nothing on the line is written "
                                                    "from MQTT")
                                         .arg(where);
        return;
    }
    const NodeCommand command = decodeNodeCommand(payload);
    if (!command.decoded || !command.others.isEmpty())
        qCDebug(lcFeed).noquote() << QStringLiteral("Sparkplug command on %1 refused (%2): only %3 is served")
                                         .arg(where,
                                              command.decoded ? command.others.join(QStringLiteral(", "))
                                                              : QStringLiteral("not a Sparkplug B payload"),
                                              QLatin1String(kRebirth));
    if (command.rebirth && m_born) {
        qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug rebirth asked on %1").arg(where);
        birth();
    }
}

} // namespace quorvex
