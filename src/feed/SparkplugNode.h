#pragma once
// The line as a Sparkplug B edge node: a second MQTT connection to the
// plant's broker, beside the JSON topics, with its own Last Will.
//   spBv1.0/<Gruppo>/NBIRTH/<Linea>            bdSeq, Node Control/Rebirth, Properties/Version
//   spBv1.0/<Gruppo>/DBIRTH/<Linea>/<device>   every metric of a device with its value
//   spBv1.0/<Gruppo>/DDATA/<Linea>/<device>    a reading, a change of state, a coil record
//   spBv1.0/<Gruppo>/DDEATH/<Linea>/<device>   a role no longer configured, or its
//                                              instrument silent, closed or gone
//   spBv1.0/<Gruppo>/NDEATH/<Linea>            the Last Will (and an orderly end)
//   spBv1.0/<Gruppo>/NCMD/<Linea>              read: Node Control/Rebirth only
//   spBv1.0/STATE/<HostPrimario>               read: with a primary host, the
//                                              node is born only while it is online
// Devices: the configured roles Bilancia, Contametri and Altezza, and
// Bobine. While the node is not born (no broker, or no primary host), coil
// records stay in the store and state changes are kept on disk (NodeBacklog);
// the next births send them as historical data with their own times. Births,
// data and device deaths are QoS 0, not retained; the death is QoS 1, not
// retained. Nothing received is ever written to the line: every command but
// a rebirth is refused.
// The session (connection, primary host, commands) is in SparkplugNode.cpp,
// the devices' births, data and deaths in SparkplugDevices.cpp.
#include "feed/FeedSettings.h"
#include "feed/MetricAliases.h"
#include "feed/MqttClient.h"
#include "feed/NodeBacklog.h"
#include "feed/PrimaryHost.h"
#include "feed/ReadingThrottle.h"
#include "history/CoilRecord.h"
#include "line/InstrumentHealth.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <array>
#include <functional>
#include <optional>

namespace quorvex::sparkplug {
class Payload;
}

namespace quorvex {

class SparkplugNode : public QObject {
    Q_OBJECT
public:
    struct Sources {
        std::function<QList<RoleHealth>()> health;
        std::function<std::optional<CoilRecord>()> lastCoil; // with its profile
        // At most limit records after an id, oldest first, with profiles.
        std::function<QList<CoilRecord>(qint64 afterId, int limit)> coilsAfter;
    };

    explicit SparkplugNode(Sources sources, QObject *parent = nullptr);
    ~SparkplugNode() override;

    // Starts, moves or ends the node as the settings say (Server set and
    // Sparkplug=1). Unchanged settings change nothing.
    void configure(const FeedSettings &settings);
    bool enabled() const { return m_settings.sparkplugEnabled(); }

    void takeReading(Role role, RoleOperation op, double value);
    void coilRecorded(const CoilRecord &record);
    // A role's health may have changed, or the configuration was loaded.
    void healthChanged();
    // An orderly end: NDEATH, then a clean disconnect.
    void shutdown();

    // state: "off", "connecting", "connected" or "waiting"; group, bdSeq,
    // server (the broker used), primaryHost, and problem: why it is not
    // connected, or "waiting for primary host <host>".
    QVariantMap status() const;
    // Connected, or trying, and not born for want of the primary host.
    bool waitingForHost() const;

    // The bdSeq of the connection now (or being made).
    int bdSeq() const { return m_bdSeq; }

private:
    void onConnected();
    void onReceived(const QByteArray &topic, const QByteArray &payload);
    void hostState(const QByteArray &payload);
    void endSession();
    void sendReadings(Role role);
    void birth();
    void deviceBirth(const RoleHealth &role);
    void coilBirth();
    void sendCoil(const CoilRecord &record, bool historical);
    void sendBacklog(const QString &device);
    QByteArray topic(const char *type, const QString &device = {}) const;
    // Publishes a message of type with the next seq, its metrics aliased.
    void publish(const char *type, const QString &device, sparkplug::Payload &payload);
    // The roles that are devices: Bilancia, Contametri, Altezza when configured.
    static QList<RoleHealth> devices(const QList<RoleHealth> &health);
    // The devices whose instrument can answer now.
    QList<RoleHealth> liveDevices() const;
    // "<role>=<brand> <model>" of each configured role.
    QStringList configuredModels() const;

    Sources m_sources;
    FeedSettings m_settings;
    MqttClient m_client;
    QTimer m_healthTick;
    int m_seq = 0;
    int m_bdSeq = 0; // this connection's (or attempt's), as its Last Will says
    bool m_bdSeqRead = false; // the last process's taken from the data folder
    bool m_born = false; // NBIRTH sent on this connection
    PrimaryHost m_host;
    QList<RoleHealth> m_bornDevices; // the role devices born
    QStringList m_bornModels; // the configured roles and models the NBIRTH was for
    std::array<std::optional<FeedReading>, kRoleOperationCount> m_last; // the last value of each reading
    std::array<std::optional<FeedReading>, kRoleOperationCount> m_pending; // not sent yet
    std::array<std::optional<double>, kRoleOperationCount> m_sent; // what the host holds
    std::array<QTimer, kRoleCount> m_readingTimers; // a device's next data
    std::array<QElapsedTimer, kRoleCount> m_lastReadingsSent;
    MetricAliases m_aliases;
    NodeBacklog m_backlog;
};

} // namespace quorvex
