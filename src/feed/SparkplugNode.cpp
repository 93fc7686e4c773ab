#include "feed/SparkplugNode.h"

#include "common/Logging.h"
#include "feed/NodeFiles.h"
#include "feed/SparkplugCommand.h"
#include "feed/SparkplugPayload.h"

#include <QCoreApplication>

#include <cstring>

namespace quorvex {

namespace {

constexpr const char *kRebirth = "Node Control/Rebirth";

} // namespace

SparkplugNode::SparkplugNode(Sources sources, QObject *parent) : QObject(parent), m_sources(std::move(sources))
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
        return spb::deathPayload(m_bdSeq);
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
    m_host.reset(m_settings.primaryHost);
    if (!enabled())
        return;
    const std::optional<CoilRecord> newest = m_sources.lastCoil ? m_sources.lastCoil() : std::nullopt;
    m_backlog.load(newest ? std::optional(newest->id) : std::nullopt);
    MqttEndpoint endpoint = m_settings.endpoint(QStringLiteral("-spb"), QStringLiteral("Sparkplug B: "));
    endpoint.willTopic = topic("NDEATH");
    endpoint.willRetained = false;
    m_client.start(endpoint);
}

void SparkplugNode::shutdown()
{
    if (m_client.isConnected())
        m_client.publish(topic("NDEATH"), spb::deathPayload(m_bdSeq), 1, false);
    m_client.stop();
    endSession();
}

bool SparkplugNode::waitingForHost() const
{
    return enabled() && m_host.isSet() && !m_born;
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

QByteArray SparkplugNode::topic(const char *type, const QString &device) const
{
    QString t = QStringLiteral("spBv1.0/%1/%2/%3").arg(m_settings.group, QLatin1String(type), m_settings.line);
    if (!device.isEmpty())
        t += QLatin1Char('/') + device;
    return t.toUtf8();
}

// NBIRTH has seq 0, every later message one more.
void SparkplugNode::publish(const char *type, const QString &device, sparkplug::Payload &payload)
{
    m_aliases.apply(device, payload, std::strstr(type, "BIRTH") != nullptr);
    m_seq = std::strcmp(type, "NBIRTH") == 0 ? 0 : (m_seq + 1) % 256;
    payload.set_seq(quint64(m_seq));
    m_client.publish(topic(type, device), spb::serialized(payload), 0, false);
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
    if (m_host.isSet()) {
        m_client.subscribe(m_host.stateTopic(), 1);
        qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: waiting for primary host %1").arg(m_host.id());
        return;
    }
    birth();
}

void SparkplugNode::hostState(const QByteArray &payload)
{
    const std::optional<bool> online = m_host.read(payload);
    if (!online)
        return;
    if (*online) {
        if (!m_born && m_client.isConnected()) {
            qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: primary host %1 online").arg(m_host.id());
            birth();
        }
        return;
    }
    if (!m_born)
        return; // still waiting
    // The host that listened is gone: this session ends with its death and
    // the node waits for the host again on the next broker of the list.
    qCInfo(lcFeed).noquote() << QStringLiteral("Sparkplug B: primary host %1 offline: waiting for it on %2")
                                    .arg(m_host.id(), m_client.broker().text());
    m_client.publish(topic("NDEATH"), spb::deathPayload(m_bdSeq), 1, false);
    endSession();
    m_client.moveOn();
}

// NBIRTH with seq 0, then the birth of every device.
void SparkplugNode::birth()
{
    const qint64 t = spb::now();
    sparkplug::Payload payload;
    payload.set_timestamp(quint64(t));
    spb::addMetric(payload, "bdSeq", sparkplug::Int64, t)->set_long_value(quint64(m_bdSeq));
    spb::addMetric(payload, kRebirth, sparkplug::Boolean, t)->set_boolean_value(false);
    spb::addText(payload, "Properties/Version", QCoreApplication::applicationVersion().toUtf8().constData(), t);
    publish("NBIRTH", {}, payload);
    m_born = true;
    m_bornModels = configuredModels();
    m_bornDevices.clear();
    // What a role no longer configured kept is for no device.
    m_backlog.keepOnly(devices(m_sources.health ? m_sources.health() : QList<RoleHealth>()));
    for (const RoleHealth &role : liveDevices())
        deviceBirth(role);
    coilBirth();
    m_healthTick.start();
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

void SparkplugNode::onReceived(const QByteArray &topic, const QByteArray &payload)
{
    const QString where = QString::fromUtf8(topic);
    if (m_host.isSet() && topic == m_host.stateTopic()) {
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
