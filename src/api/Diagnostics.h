#pragma once
// The interface com.velkaro.Quorvex.Diagnostics on the object of Global: the
// port objects with their state and byte counts (Ports), and a Traffic
// signal for every chunk of bytes a port sends or receives. The signal flows
// only while some client has asked for it (Watch); with nobody watching, no
// tap is installed on the ports and they only count their bytes. Feed tells
// the plant feed's broker connection. Read runs a generic operation and
// says why it gave no reading; Reload reads the configuration again.
#include "api/GlobalServices.h"
#include "serial/PortControl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>

class QDBusServiceWatcher;

namespace quorvex {

class Line;

inline constexpr char kDiagnosticsInterface[] = "com.velkaro.Quorvex.Diagnostics";

class Diagnostics : public QObject {
    Q_OBJECT
public:
    Diagnostics(Line &line, QDBusConnection connection, const GlobalServices *services = nullptr,
                QObject *parent = nullptr);
    ~Diagnostics() override;

    // Whether the call is for this interface: named so, or a method of it
    // called without an interface name.
    static bool handles(const QDBusMessage &message);
    // Whether member is a method of this interface. Read is answered by the
    // D-Bus binding (it runs as the caller's instance), the rest here.
    static bool isMethod(const QString &member);
    // Answers the call on connection.
    void handleCall(const QDBusMessage &message, const QDBusConnection &connection);

    // Clients that have asked for Traffic and not yet withdrawn.
    int watcherCount() const { return int(m_watches.size()); }

private:
    QDBusMessage portsReply(const QDBusMessage &message) const;
    // Reload(): the configuration read again, as the settings dialog's OK does.
    void reload(const QDBusMessage &message, const QDBusConnection &connection);
    void watch(const QString &client);
    void unwatch(const QString &client);
    void clientGone(const QString &client);
    void updateTap();
    void sendTraffic(const PortControl &port, PortControl::Direction direction, const QByteArray &bytes);

    Line &m_line;
    const GlobalServices *m_services;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, int> m_watches; // Watch calls not yet withdrawn, per client
};

// The interface element of data/com.velkaro.Quorvex.Diagnostics.xml.
QString diagnosticsXml();

} // namespace quorvex
