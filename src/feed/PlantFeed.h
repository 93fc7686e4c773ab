#pragma once
// The plant feed: the line's state, its readings and its coil records,
// published to the plant's MQTT broker under quorvex/<Linea>/.
//   stato            "online" (retained) while connected; "offline" as the
//                    Last Will and on an orderly end. A late Will of an
//                    earlier session seen while connected is answered
//                    with "online" again.
//   letture/<role>   the role's readings, each operation's newest at most
//                    every 500 ms, QoS 0; only readings someone else asked for
//   bobine           each coil record, QoS 1, marked sent in the store only
//                    when the broker has acknowledged it
//   salute           each configured role's health (retained, QoS 1), when
//                    a state changes and at most every 5 s while figures change
#include "feed/CoilQueue.h"
#include "feed/FeedSettings.h"
#include "feed/MqttClient.h"
#include "feed/ReadingThrottle.h"
#include "line/Device.h"
#include "line/InstrumentHealth.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVariantMap>
#include <functional>

namespace quorvex {

class PlantFeed : public QObject {
    Q_OBJECT
public:
    // coils may be null: no coil records are published.
    explicit PlantFeed(CoilQueue *coils, QObject *parent = nullptr);
    ~PlantFeed() override;

    // Applies the settings of a configuration load: connects, reconnects
    // elsewhere, or ends the feed. Settings the same for the JSON topics
    // (the edge node's keys aside) change nothing.
    void configure(const FeedSettings &settings);
    bool enabled() const { return m_settings.enabled(); }

    // A reading a role's instrument gave.
    void takeReading(Role role, RoleOperation op, double value);
    // Where the roles' health is read; without one, nothing is published
    // on salute.
    void setHealthSource(std::function<QList<RoleHealth>()> source) { m_healthSource = std::move(source); }
    // A role's health may have changed: a changed state goes out at once.
    void healthChanged();
    // A coil record has been committed to the store.
    void coilClosed();
    // "offline" and a clean disconnect: the process is ending.
    void shutdown();

    // What Diagnostics tells: server, port, line, tls, state ("off",
    // "connecting", "connected", "waiting"), problem, unsent.
    QVariantMap status() const;

    // The payload of letture/<role>: {"value","operation","time"}.
    static QByteArray readingPayload(double value, RoleOperation op, qint64 msecsSinceEpoch);
    // The payload of salute: {"time", "roles": {"Bilancia": {...}, ...}}.
    static QByteArray healthPayload(const QList<RoleHealth> &roles, qint64 msecsSinceEpoch);

signals:
    void enabledChanged(bool enabled);

private:
    void onConnected();
    void onDisconnected();
    void onAcknowledged(int messageId);
    void onReceived(const QByteArray &topicName, const QByteArray &payload);
    void sendReading(Value value, const FeedReading &reading);
    void publishHealth(bool force);
    void pumpCoils();
    QByteArray topic(const QString &leaf) const;

    CoilQueue *m_coils;
    FeedSettings m_settings;
    MqttClient m_client;
    ReadingThrottle m_readings;
    std::function<QList<RoleHealth>()> m_healthSource;
    QList<RoleHealth> m_healthSent; // what salute last said
    QElapsedTimer m_healthClock; // since salute was last published
    QTimer m_healthTick; // looks again while connected (a device unplugged)
    QHash<int, qint64> m_inFlight; // message id -> coil id
    QSet<qint64> m_acknowledged; // acknowledged, while the store still lists them unsent
};

} // namespace quorvex
