#pragma once
// The [OPCUA] group: where the OPC UA face listens, how its channels are
// secured and who may zero the length. Read at every configuration load.
#include <QHostAddress>
#include <QString>

namespace quorvex {

class SettingsSnapshot;

struct OpcuaFaceSettings {
    int port = 0; // 0: the face is off
    QHostAddress address{QHostAddress::LocalHost};
    bool secure = false; // SignAndEncrypt (Basic256Sha256) rather than None
    bool writable = false; // AzzeraLunghezza may be called
    QString user; // empty: any session may call it (with writable)
    QString passwordFile; // the user's password, its first line
    QString lineName; // [Impianto] Linea, else the host name: the display name and application URI

    bool enabled() const { return port > 0; }
    // Every address but 127.0.0.0/8 and ::1 (0.0.0.0 among them).
    bool loopback() const { return address.isLoopback(); }
    QString applicationUri() const { return QStringLiteral("urn:velkaro:quorvex:") + lineName; }
    bool operator==(const OpcuaFaceSettings &) const = default;
};

// Reads [OPCUA], with a warning for every value it cannot use. A Porta that
// is not a port number leaves the face off; Sicurezza=None on an address
// that is not loopback is kept, with a warning at every load.
OpcuaFaceSettings readOpcuaFaceSettings(const SettingsSnapshot &store);

} // namespace quorvex
