#include "feed/PlantFeed.h"

#include "common/Logging.h"
#include "line/LineImage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>

#include <charconv>
#include <cmath>

namespace quorvex {

double payloadNumber(double value)
{
    if (!std::isfinite(value))
        return value;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    double rounded = value;
    std::from_chars(text, written.ptr, rounded);
    return rounded;
}

namespace {

// salute: at most this often while only figures change.
constexpr int kHealthIntervalMs = 5000;
// Coil records sent and not yet acknowledged at one time.
constexpr int kCoilWindow = 8;

const QByteArray kOnline = "online";
const QByteArray kOffline = "offline";

} // namespace

PlantFeed::PlantFeed(CoilQueue *coils, QObject *parent)
        : QObject(parent), m_coils(coils),
          m_readings([this](Value value, const FeedReading &reading) { sendReading(value, reading); })
{
    connect(&m_client, &MqttClient::connected, this, &PlantFeed::onConnected);
    connect(&m_client, &MqttClient::disconnected, this, &PlantFeed::onDisconnected);
    connect(&m_client, &MqttClient::acknowledged, this, &PlantFeed::onAcknowledged);
    connect(&m_client, &MqttClient::received, this, &PlantFeed::onReceived);
    m_healthTick.setInterval(1000);
    connect(&m_healthTick, &QTimer::timeout, this, &PlantFeed::healthChanged);
}

PlantFeed::~PlantFeed()
{
    shutdown();
}

void PlantFeed::configure(const FeedSettings &settings)
{
    // The edge node's keys are the node's own: the JSON topics keep their connection.
    if (settings.sameJsonFeed(m_settings)) {
        m_settings = settings;
        return;
    }
    const bool wasEnabled = enabled();
    shutdown();
    m_settings = settings;
    if (enabled()) {
        MqttEndpoint endpoint = m_settings.endpoint(QString());
        endpoint.willTopic = topic(QStringLiteral("stato"));
        endpoint.willPayload = kOffline;
        m_client.start(endpoint);
    }
    if (enabled() != wasEnabled)
        emit enabledChanged(enabled());
}

void PlantFeed::shutdown()
{
    if (m_client.isConnected())
        m_client.publish(topic(QStringLiteral("stato")), kOffline, 1, true);
    m_client.stop();
    m_inFlight.clear();
    m_readings.clear();
    m_healthTick.stop();
}

QByteArray PlantFeed::topic(const QString &leaf) const
{
    return (m_settings.topicPrefix() + leaf).toUtf8();
}

void PlantFeed::onConnected()
{
    if (!m_client.isConnected())
        return;
    // Message ids start again with each session: none of an earlier one may
    // stand for a record now.
    m_inFlight.clear();
    m_client.publish(topic(QStringLiteral("stato")), kOnline, 1, true);
    // The Will of an earlier session of this line (a process that hung and
    // was replaced) may still fire: watching the topic puts it right.
    m_client.subscribe(topic(QStringLiteral("stato")), 1);
    publishHealth(true);
    m_healthTick.start();
    pumpCoils();
}

void PlantFeed::onDisconnected()
{
    m_healthTick.stop();
    // What was in flight is still unsent in the store: the next connection
    // sends it again, in order.
    m_inFlight.clear();
}

// stato says "offline" while this session is up: a Will that is not ours
// (a dead session's, fired late by the broker). The line is reachable.
void PlantFeed::onReceived(const QByteArray &topicName, const QByteArray &payload)
{
    if (topicName != topic(QStringLiteral("stato")) || payload != kOffline || !m_client.isConnected())
        return;
    qCInfo(lcFeed).noquote() << QStringLiteral("%1 said offline while this server is connected (an earlier "
                                               "session's Last Will): online again")
                                    .arg(QString::fromUtf8(topicName));
    m_client.publish(topicName, kOnline, 1, true);
}

void PlantFeed::takeReading(Role role, RoleOperation op, double value)
{
    // The service device's answers are not readings of the line.
    if (role == Role::Servizio || !m_client.isConnected())
        return;
    const std::optional<Value> row = valueOfOperation(op);
    if (!row || !published(*row).json)
        return;
    // Only kept here; the message is made when it goes out.
    m_readings.take(*row, FeedReading{value, op, QDateTime::currentMSecsSinceEpoch()});
}

void PlantFeed::sendReading(Value value, const FeedReading &r)
{
    const QString leaf = QStringLiteral("letture/%1").arg(QLatin1String(roleGroup(published(value).role)));
    m_client.publish(topic(leaf), readingPayload(r.value, r.op, r.msecsSinceEpoch), 0, false);
}

void PlantFeed::healthChanged()
{
    publishHealth(false);
}

// A changed state (a role come or gone among them) goes out at once;
// changed figures alone once kHealthIntervalMs has passed since the last.
void PlantFeed::publishHealth(bool force)
{
    if (!m_healthSource || !m_client.isConnected())
        return;
    const QList<RoleHealth> now = m_healthSource();
    if (!force && !healthStatesDiffer(now, m_healthSent)) {
        if (now == m_healthSent || (m_healthClock.isValid() && m_healthClock.elapsed() < kHealthIntervalMs))
            return;
    }
    if (m_client.publish(topic(QStringLiteral("salute")), healthPayload(now, QDateTime::currentMSecsSinceEpoch()), 1,
                         true)
        < 0)
        return;
    m_healthSent = now;
    m_healthClock.start();
}

QByteArray PlantFeed::healthPayload(const QList<RoleHealth> &roles, qint64 msecsSinceEpoch)
{
    QJsonObject byRole;
    for (const RoleHealth &role : roles) {
        QJsonObject fields;
        for (const PublishedValue &row : kPublished) {
            if (row.source != ValueSource::Health || !row.json)
                continue;
            const QVariant value = LineImage::healthValue(role, row.value);
            if (value.isValid())
                fields.insert(QLatin1String(row.json), QJsonValue::fromVariant(value));
        }
        byRole.insert(role.roleName(), fields);
    }
    const QJsonObject health{{QStringLiteral("time"), payloadTime(msecsSinceEpoch)}, {QStringLiteral("roles"), byRole}};
    return QJsonDocument(health).toJson(QJsonDocument::Compact);
}

QByteArray PlantFeed::readingPayload(double value, RoleOperation op, qint64 msecsSinceEpoch)
{
    const QJsonObject reading{{QStringLiteral("value"), payloadNumber(value)},
                              {QStringLiteral("operation"), QLatin1String(published(*valueOfOperation(op)).json)},
                              {QStringLiteral("time"), payloadTime(msecsSinceEpoch)}};
    return QJsonDocument(reading).toJson(QJsonDocument::Compact);
}

void PlantFeed::coilClosed()
{
    pumpCoils();
}

// Sends the oldest unsent records, up to the window, skipping those on
// their way; each acknowledgement sends the next.
void PlantFeed::pumpCoils()
{
    if (!m_coils || !m_client.isConnected() || m_inFlight.size() >= kCoilWindow)
        return;
    const int limit = int(m_inFlight.size() + m_acknowledged.size()) + kCoilWindow;
    const QList<CoilMessage> unsent = m_coils->unsent(limit);
    // An acknowledged record the store no longer lists as unsent was marked
    // after all: it need not be remembered. Only a whole list tells.
    if (unsent.size() < limit) {
        QSet<qint64> stillUnsent;
        for (const CoilMessage &message : unsent)
            stillUnsent.insert(message.id);
        m_acknowledged.intersect(stillUnsent);
    }
    const QList<qint64> onTheirWay = m_inFlight.values();
    for (const CoilMessage &message : unsent) {
        if (m_inFlight.size() >= kCoilWindow)
            break;
        if (onTheirWay.contains(message.id) || m_acknowledged.contains(message.id))
            continue;
        QJsonObject payload = message.record;
        payload.insert(QStringLiteral("line"), m_settings.line);
        payload.insert(QStringLiteral("id"), message.id);
        const int mid = m_client.publish(topic(QStringLiteral("bobine")),
                                         QJsonDocument(payload).toJson(QJsonDocument::Compact), 1, false);
        if (mid < 0 || !m_client.isConnected())
            return; // a link lost on this very write: the next session sends it
        m_inFlight.insert(mid, message.id);
    }
}

void PlantFeed::onAcknowledged(int messageId)
{
    const auto it = m_inFlight.find(messageId);
    if (it == m_inFlight.end())
        return;
    const qint64 id = *it;
    m_inFlight.erase(it);
    m_acknowledged.insert(id);
    m_coils->markSent(id);
    pumpCoils();
}

QVariantMap PlantFeed::status() const
{
    static const char *const kStates[] = {"off", "connecting", "connected", "waiting"};
    QVariantMap status{
        // The broker of the list connected to or tried now.
        {QStringLiteral("server"), enabled() ? m_client.broker().host : m_settings.server},
        {QStringLiteral("port"), enabled() ? m_client.broker().port : m_settings.port},
        {QStringLiteral("line"), m_settings.line},
        {QStringLiteral("tls"), !m_settings.caFile.isEmpty()},
        {QStringLiteral("state"), QLatin1String(enabled() ? kStates[int(m_client.state())] : "off")},
        {QStringLiteral("problem"), m_client.problem()},
        {QStringLiteral("unsent"), m_coils ? m_coils->unsentCount() : 0},
    };
    return status;
}

} // namespace quorvex
