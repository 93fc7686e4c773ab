#pragma once
// The object /com/velkaro/Quorvex/Global on the session bus. Every client
// connection gets its own Global instance on its first call, released when
// the client leaves. Calls that wait for an instrument are answered with
// delayed replies when they finish, so one slow instrument never holds
// back another client.
#include "api/BusNames.h"
#include "api/Dispatch.h"
#include "api/Global.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <memory>

class QDBusServiceWatcher;

namespace quorvex {

class Diagnostics;
class History;

class DbusBinding : public QDBusVirtualObject {
    Q_OBJECT
public:
    DbusBinding(Line &line, QDBusConnection connection, const GlobalServices *services = nullptr,
                QObject *parent = nullptr);
    ~DbusBinding() override;

    // Serves the coil records too (the process has a store).
    void setHistory(History *history);

    // Registers the object on the connection.
    bool registerObject();

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

    // The methods it answers.
    const Dispatch &dispatch() const { return m_dispatch; }
    // Calls taken and not yet answered.
    int callsInFlight() const { return m_callsInFlight; }

signals:
    // The last call in flight has been answered.
    void allCallsAnswered();

private:
    QCoro::Task<> answer(const Dispatch::Route *route, QDBusMessage message);
    // Global's operations: called by name, or through Invoke by dispatch
    // identifier with the arguments in variants.
    // How a call's result goes back: as the operation's own result, as
    // Invoke's variant, or as Diagnostics.Read's (value, problem).
    enum class ReplyForm { Method, Invoke, Read };
    QCoro::Task<QDBusMessage> serve(const Operation *op, QVariantList values, ReplyForm form, QDBusMessage message);
    QCoro::Task<QDBusMessage> invoke(QDBusMessage message);
    // Diagnostics.Read(s operation, av args): a generic operation run as the
    // caller's own instance runs its calls, with why it gave no reading.
    QCoro::Task<QDBusMessage> read(QDBusMessage message);
    std::shared_ptr<Global> instanceFor(const QString &client);
    void clientGone(const QString &client);

    Line &m_line;
    const GlobalServices *m_services;
    QDBusConnection m_connection;
    QDBusServiceWatcher *m_watcher;
    QHash<QString, std::shared_ptr<Global>> m_instances;
    int m_callsInFlight = 0;
    Dispatch m_dispatch;
    Diagnostics *m_diagnostics; // the traffic monitor beside Global
};

} // namespace quorvex
