#pragma once
// The object /com/velkaro/Quorvex/Global on the session bus. Every client
// connection gets its own Global instance on its first call, released when
// the client leaves. Calls that wait for an instrument are answered with
// delayed replies when they finish, so one slow instrument never holds
// back another client.
#include "api/Global.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <memory>

class QDBusServiceWatcher;

namespace quorvex {

inline constexpr char kServiceName[] = "com.velkaro.Quorvex";
inline constexpr char kObjectPath[] = "/com/velkaro/Quorvex/Global";
inline constexpr char kInterfaceName[] = "com.velkaro.Quorvex.Global";

class DbusBinding : public QDBusVirtualObject {
    Q_OBJECT
public:
    DbusBinding(Server &server, QDBusConnection connection, QObject *parent = nullptr);
    ~DbusBinding() override;

    // Registers the object on the connection.
    bool registerObject();

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

    int clientCount() const { return int(m_instances.size()); }

    // The introspection data: the interface file compiled into the server.
    static QString interfaceXml();

private:
    std::shared_ptr<Global> instanceFor(const QString &client);
    void clientGone(const QString &client);

    Server &m_server;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, std::shared_ptr<Global>> m_instances;
};

} // namespace quorvex
