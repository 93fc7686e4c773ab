#pragma once
// The [Impianto] group: where the plant's MQTT broker is and how this line
// appears there. Read at every configuration load.
#include "feed/MqttClient.h"

#include <QString>

namespace quorvex {

class SettingsSnapshot;

struct FeedSettings {
    QString server; // host[:port], a comma list of them; empty: the feed is off
    int port = 0; // the broker's port; the settings schema holds the default
    QString line; // the line's name in topics
    QString user;
    QString passwordFile; // a file whose first line is the password
    QString caFile; // a CA certificate file: TLS on
    int keepaliveSeconds = 0; // the settings schema holds the default
    bool sparkplug = false; // a Sparkplug B edge node beside the JSON topics
    QString group = QStringLiteral("quorvex"); // its group id
    QString primaryHost; // the host application whose STATE the node waits for; empty: none

    bool enabled() const { return !server.isEmpty(); }
    // The brokers of server, each with port unless it names its own.
    QList<MqttBroker> brokers() const;
    // The connection to the brokers with these credentials, as the client
    // quorvex-<line>-<pid><clientSuffix>; its Last Will is the caller's.
    MqttEndpoint endpoint(const QString &clientSuffix, const QString &label = {}) const;
    bool sparkplugEnabled() const { return enabled() && sparkplug; }
    // The topic prefix "quorvex/<line>/".
    QString topicPrefix() const { return QStringLiteral("quorvex/%1/").arg(line); }
    bool operator==(const FeedSettings &) const = default;
    // The same broker and line for the JSON topics (the edge node's keys aside).
    bool sameJsonFeed(const FeedSettings &other) const
    {
        FeedSettings a = *this;
        a.sparkplug = other.sparkplug;
        a.group = other.group;
        a.primaryHost = other.primaryHost;
        return a == other;
    }
};

// The brokers of a Server text "host[:port], ..." ("[v6]:port" for an IPv6
// address with a port); an entry that is not one is named in problems.
QList<MqttBroker> parseBrokers(const QString &text, int defaultPort, QStringList *problems = nullptr);

// Reads [Impianto], with a warning for every value it cannot use (the
// default is used instead). A line name is made safe for a topic level:
// "/", "+" and "#" become "_".
FeedSettings readFeedSettings(const SettingsSnapshot &store);

} // namespace quorvex
