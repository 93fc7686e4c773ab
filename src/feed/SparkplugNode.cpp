#include "feed/SparkplugNode.h"

#include "common/Logging.h"
#include "feed/SparkplugCommand.h"

#include "sparkplug_b.pb.h"

#include <QCoreApplication>
#include <QDateTime>

namespace quorvex {

namespace {

namespace sp = quorvex::sparkplug;
using Metric = sp::Payload::Metric;

constexpr const char *kCoils = "Bobine";
constexpr const char *kState = "Stato";
constexpr const char *kRebirth = "Node Control/Rebirth";

// The readings a role's device carries.
constexpr RoleOperation kReadings[] = {RoleOperation::LeggiPeso, RoleOperation::LeggiTara,
                                       RoleOperation::LeggiLunghezza, RoleOperation::LeggiAltezza};

bool isReading(RoleOperation op)
{
    return std::find(std::begin(kReadings), std::end(kReadings), op) != std::end(kReadings);
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

// The coil metrics: Id, Lunghezza, AltezzaMedia, Peso (null without a
// weighing) and Profilo, a data set of (Lunghezza, Altezza) rows; all null
// before the first coil.
void addCoil(sp::Payload &payload, const std::optional<CoilRecord> &coil, qint64 timestamp)
{
    Metric *id = addMetric(payload, "Id", sp::Int64, timestamp);
    if (coil)
        id->set_long_value(quint64(coil->id));
    else
        id->set_is_null(true);
    addDouble(payload, "Lunghezza", coil ? std::optional(coil->length) : std::nullopt, timestamp);
    addDouble(payload, "AltezzaMedia", coil ? std::optional(coil->averageHeight) : std::nullopt, timestamp);
    addDouble(payload, "Peso", coil ? coil->weight : std::nullopt, timestamp);
    Metric *profile = addMetric(payload, "Profilo", sp::DataSet, timestamp);
    sp::Payload::DataSet *set = profile->mutable_dataset_value();
    set->set_num_of_columns(2);
    set->add_columns("Lunghezza");
    set->add_columns("Altezza");
    set->add_types(sp::Double);
    set->add_types(sp::Double);
    if (!coil)
        return;
    for (const QPointF &sample : coil->profile) {
        sp::Payload::DataSet::Row *row = set->add_rows();
        row->add_elements()->set_double_value(sample.x());
        row->add_elements()->set_double_value(sample.y());
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
        : QObject(parent), m_sources(std::move(sources)),
          m_readings([this](Value value, const FeedReading &reading) { sendReading(published(value).role, reading); })
{
    connect(&m_client, &MqttClient::connected, this, &SparkplugNode::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, [this] {
        m_born = false;
        m_readings.clear();
        m_healthTick.stop();
    });
    connect(&m_client, &MqttClient::received, this, &SparkplugNode::onReceived);
    // Each connection's Last Will carries its own bdSeq; the birth on that
    // connection tells the same number.
    m_client.setWillSource([this] {
        m_bdSeq = m_nextBdSeq;
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
    if (!enabled())
        return;
    MqttEndpoint endpoint;
    endpoint.host = m_settings.server;
    endpoint.port = m_settings.port;
    endpoint.user = m_settings.user;
    endpoint.passwordFile = m_settings.passwordFile;
    endpoint.caFile = m_settings.caFile;
    endpoint.keepaliveSeconds = m_settings.keepaliveSeconds;
    endpoint.clientId =
        QStringLiteral("quorvex-%1-%2-spb").arg(m_settings.line).arg(QCoreApplication::applicationPid()).toUtf8();
    endpoint.willTopic = topic("NDEATH");
    endpoint.willRetained = false;
    endpoint.label = QStringLiteral("Sparkplug B: ");
    m_client.start(endpoint);
}

void SparkplugNode::shutdown()
{
    if (m_client.isConnected())
        m_client.publish(topic("NDEATH"), deathPayload(), 1, false);
    m_client.stop();
    m_born = false;
    m_readings.clear();
    m_healthTick.stop();
}

QVariantMap SparkplugNode::status() const
{
    static const char *const kStates[] = {"off", "connecting", "connected", "waiting"};
    return {
        {QStringLiteral("state"), QLatin1String(enabled() ? kStates[int(m_client.state())] : "off")},
        {QStringLiteral("group"), m_settings.group},
        {QStringLiteral("bdSeq"), m_bdSeq},
    };
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

void SparkplugNode::publish(const QByteArray &topic, sp::Payload &payload)
{
    m_seq = (m_seq + 1) % 256;
    payload.set_seq(quint64(m_seq));
    m_client.publish(topic, serialized(payload), 0, false);
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
    m_nextBdSeq = (m_bdSeq + 1) % 256;
    // Commands are listened to before the birth, so a host's rebirth request
    // answering it is not missed.
    m_client.subscribe(topic("NCMD"), 1);
    m_client.subscribe(topic("DCMD", QStringLiteral("+")), 1);
    birth();
    m_healthTick.start();
}

// NBIRTH with seq 0, then the birth of every device.
void SparkplugNode::birth()
{
    const qint64 t = now();
    sp::Payload payload;
    payload.set_timestamp(quint64(t));
    payload.set_seq(0);
    addMetric(payload, "bdSeq", sp::Int64, t)->set_long_value(quint64(m_bdSeq));
    addMetric(payload, kRebirth, sp::Boolean, t)->set_boolean_value(false);
    addText(payload, "Properties/Version", QCoreApplication::applicationVersion().toUtf8().constData(), t);
    m_seq = 0;
    m_readings.clear();
    m_client.publish(topic("NBIRTH"), serialized(payload), 0, false);
    m_born = true;
    m_bornDevices.clear();
    for (const RoleHealth &role : devices(m_sources.health ? m_sources.health() : QList<RoleHealth>()))
        deviceBirth(role);
    coilBirth();
}

void SparkplugNode::deviceBirth(const RoleHealth &role)
{
    const qint64 t = now();
    sp::Payload payload;
    payload.set_timestamp(quint64(t));
    for (RoleOperation op : kReadings) {
        if (roleOf(op) != role.role)
            continue;
        const std::optional<FeedReading> &last = m_last[size_t(op)];
        addDouble(payload, operationName(op), last ? std::optional(last->value) : std::nullopt,
                  last ? last->msecsSinceEpoch : t);
    }
    addText(payload, kState, healthStateName(role.state), t);
    publish(topic("DBIRTH", role.roleName()), payload);
    m_bornDevices.append(role);
}

void SparkplugNode::coilBirth()
{
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    addCoil(payload, m_sources.lastCoil ? m_sources.lastCoil() : std::nullopt, now());
    publish(topic("DBIRTH", QLatin1String(kCoils)), payload);
}

void SparkplugNode::takeReading(Role, RoleOperation op, double value)
{
    if (!isReading(op))
        return;
    const FeedReading reading{value, op, now()};
    // Kept while the broker is away too: the next birth tells it.
    m_last[size_t(op)] = reading;
    if (m_born)
        m_readings.take(*valueOfOperation(op), reading);
}

void SparkplugNode::sendReading(Role role, const FeedReading &reading)
{
    const auto born = std::find_if(m_bornDevices.begin(), m_bornDevices.end(),
                                   [role](const RoleHealth &h) { return h.role == role; });
    if (!m_born || born == m_bornDevices.end())
        return;
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    addDouble(payload, operationName(reading.op), reading.value, reading.msecsSinceEpoch);
    publish(topic("DDATA", born->roleName()), payload);
}

void SparkplugNode::coilRecorded(const CoilRecord &record)
{
    if (!m_born)
        return;
    sp::Payload payload;
    payload.set_timestamp(quint64(now()));
    addCoil(payload, record, record.closedUs / 1000);
    publish(topic("DDATA", QLatin1String(kCoils)), payload);
}

// A role that became a device is born, one that is no more dies, and a
// changed state is a DDATA of Stato.
void SparkplugNode::healthChanged()
{
    if (!m_born || !m_sources.health)
        return;
    const QList<RoleHealth> now = devices(m_sources.health());
    const auto find = [](const QList<RoleHealth> &list, Role role) {
        return std::find_if(list.begin(), list.end(), [role](const RoleHealth &h) { return h.role == role; });
    };
    const QList<RoleHealth> before = m_bornDevices;
    for (const RoleHealth &old : before) {
        if (find(now, old.role) != now.end())
            continue;
        sp::Payload payload;
        payload.set_timestamp(quint64(quorvex::now()));
        publish(topic("DDEATH", old.roleName()), payload);
        m_bornDevices.erase(find(m_bornDevices, old.role));
    }
    for (const RoleHealth &role : now) {
        const auto born = find(m_bornDevices, role.role);
        if (born == m_bornDevices.end()) {
            deviceBirth(role);
            continue;
        }
        if (born->state == role.state)
            continue;
        const qint64 t = quorvex::now();
        sp::Payload payload;
        payload.set_timestamp(quint64(t));
        addText(payload, kState, healthStateName(role.state), t);
        publish(topic("DDATA", role.roleName()), payload);
        m_bornDevices[born - m_bornDevices.begin()].state = role.state;
    }
}

void SparkplugNode::onReceived(const QByteArray &topic, const QByteArray &payload)
{
    const QString where = QString::fromUtf8(topic);
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
    if (command.rebirth) {
        qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug rebirth asked on %1").arg(where);
        birth();
    }
}

} // namespace quorvex
