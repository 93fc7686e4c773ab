#pragma once
// The [ModbusTCP] group: where the face listens and what it allows. Read at
// every configuration load.
#include <QHostAddress>
#include <QList>

namespace quorvex {

class SettingsSnapshot;

struct ModbusFaceSettings {
    int port = 0; // 0: the face is off
    QHostAddress address{QHostAddress::LocalHost};
    int unit = 1;
    QList<QHostAddress> clients; // empty: any address may connect
    int intervalMs = 200; // 0: only mirror what others read
    bool writable = false; // coil 0 zeroes the length

    bool enabled() const { return port > 0; }
    // Whether a peer at this address may connect.
    bool allows(const QHostAddress &peer) const;
    bool operator==(const ModbusFaceSettings &) const = default;
};

// Reads [ModbusTCP], with a warning for every value it cannot use; a Porta
// that is not a port number leaves the face off.
ModbusFaceSettings readModbusFaceSettings(const SettingsSnapshot &store);

} // namespace quorvex
