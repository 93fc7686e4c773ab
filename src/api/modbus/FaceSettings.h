#pragma once
// The [ModbusTCP] group: where the face listens and what it allows. Read at
// every configuration load.
#include <QHostAddress>
#include <QList>

namespace quorvex {

class SettingsSnapshot;

struct ModbusFaceSettings {
    int port = 0; // 0: the face is off, or cannot listen (problem)
    QHostAddress address{QHostAddress::LocalHost};
    int unit = 1;
    QList<QHostAddress> clients; // empty: any address may connect
    int intervalMs = 200; // 0: only mirror what others read
    bool writable = false; // coil 0 zeroes the length
    int maxClients = 16; // connections held at one time; a further one is closed at once
    int idleSeconds = 60; // a connection without a complete request this long is closed; 0: never
    // Set when [ModbusTCP] names a Porta the face cannot use: the face is
    // configured, does not listen, and keeps the server running all the same.
    QString problem;

    bool enabled() const { return port > 0; }
    // A face was asked for, whether or not it can listen.
    bool configured() const { return enabled() || !problem.isEmpty(); }
    // Whether a peer at this address may connect.
    bool allows(const QHostAddress &peer) const;
    bool operator==(const ModbusFaceSettings &) const = default;
};

// Reads [ModbusTCP], with a warning for every value it cannot use; a Porta
// that is not a port number leaves the face configured but not listening.
ModbusFaceSettings readModbusFaceSettings(const SettingsSnapshot &store);

} // namespace quorvex
