#pragma once
// The plant feed: the line's state, its readings and its coil records,
// published to the plant's MQTT broker under quorvex/<Linea>/.
//   stato            "online" (retained) while connected; "offline" as the
//                    Last Will and on an orderly end
//   letture/<role>   the newest reading of the role, at most every 500 ms,
//                    QoS 0; only readings someone else asked for
//   bobine           each coil record, QoS 1, marked sent in the store only
//                    when the broker has acknowledged it
#include "feed/CoilQueue.h"
#include "feed/FeedSettings.h"
#include "feed/MqttClient.h"
#include "line/Device.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVariantMap>
#include <array>
#include <optional>

namespace quorvex {

class PlantFeed : public QObject {
    Q_OBJECT
public:
    // coils may be null: no coil records are published.
    explicit PlantFeed(CoilQueue *coils, QObject *parent = nullptr);
    ~PlantFeed() override;

    // Applies the settings of a configuration load: connects, reconnects
    // elsewhere, or ends the feed. Unchanged settings change nothing.
    void configure(const FeedSettings &settings);
    bool enabled() const { return m_settings.enabled(); }

    // A reading a role's instrument gave.
    void takeReading(Role role, RoleOperation op, double value);
    // A coil record has been committed to the store.
    void coilClosed();
    // "offline" and a clean disconnect: the process is ending.
    void shutdown();

    // What Diagnostics tells: server, port, line, tls, state ("off",
    // "connecting", "connected", "waiting"), problem, unsent.
    QVariantMap status() const;

    // The payload of letture/<role>: {"value","operation","time"}.
    static QByteArray readingPayload(double value, RoleOperation op, qint64 msecsSinceEpoch);

signals:
    void enabledChanged(bool enabled);

private:
    struct Reading {
        double value = 0;
        RoleOperation op = RoleOperation::LeggiPeso;
        qint64 msecsSinceEpoch = 0;
    };
    struct RoleChannel {
        QElapsedTimer lastSent;
        std::optional<Reading> pending; // the newest reading not yet sent
        QTimer *timer = nullptr;
    };

    void onConnected();
    void onDisconnected();
    void onAcknowledged(int messageId);
    void sendPending(int role);
    void pumpCoils();
    QByteArray topic(const QString &leaf) const;

    CoilQueue *m_coils;
    FeedSettings m_settings;
    MqttClient m_client;
    std::array<RoleChannel, kReadingRoleCount> m_roles; // indexed by Role
    QHash<int, qint64> m_inFlight;  // message id -> coil id
    QSet<qint64> m_acknowledged;    // acknowledged, while the store still lists them unsent
};

} // namespace quorvex
