#pragma once
// The interface com.velkaro.Quorvex.Diagnostics on the object of Global: the
// port objects with their state and byte counts (Ports), and a Traffic
// signal for every chunk of bytes a port sends or receives. The signal flows
// only while some client has asked for it (Watch); with nobody watching, no
// tap is installed on the ports and they only count their bytes. Feed tells
// the plant feed's broker connection. Reload reads the configuration
// again; Read (a generic operation and why it gave no reading) is served by
// the D-Bus binding, which holds the callers' instances.
#include "api/BusNames.h"
#include "api/Dispatch.h"
#include "api/GlobalServices.h"
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QHash>
#include <QObject>

class QDBusServiceWatcher;

namespace quorvex {

class Line;

class Diagnostics : public QObject {
    Q_OBJECT
public:
    Diagnostics(Line &line, QDBusConnection connection, const GlobalServices *services = nullptr,
                QObject *parent = nullptr);
    ~Diagnostics() override;

    // Serves the interface's methods through dispatch.
    void serveOn(Dispatch &dispatch);

    // Clients that have asked for Traffic and not yet withdrawn.
    int watcherCount() const { return int(m_watches.size()); }

private:
    QDBusMessage portsReply(const QDBusMessage &message) const;
    QDBusMessage feedReply(const QDBusMessage &message) const;
    // Reload(): the configuration read again, as the settings dialog's OK does.
    QDBusMessage reload(const QDBusMessage &message);
    void watch(const QString &client);
    void unwatch(const QString &client);
    void clientGone(const QString &client);
    void updateTap();
    void sendTraffic(const PortControl &port, PortControl::Direction direction, const QByteArray &bytes);
    // Runs a probe to its end: its reply.
    QCoro::Task<QDBusMessage> probe(QDBusMessage message);

    Line &m_line;
    const GlobalServices *m_services;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, int> m_watches; // Watch calls not yet withdrawn, per client
};

} // namespace quorvex
