#pragma once
// The calls to the object, routed to their handler in one look-up by
// interface and member, or by member alone for a call without an interface
// name. Which methods an interface has, and the argument signatures each
// takes, come from its interface file (api/Interfaces.h), computed once; an
// interface adds one handler per method and nothing else.
#include <QCoro/QCoroTask>
#include <QDBusMessage>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

namespace quorvex {

class Dispatch {
public:
    // Answers a call whose signature is one its method takes. A handler
    // that answers at once returns replyNow(reply).
    using Handler = std::function<QCoro::Task<QDBusMessage>(QDBusMessage message)>;

    struct Route {
        QString interface;
        QString member;
        QStringList signatures; // one per overload in the interface file
        Handler handler;
    };

    // Serves member of interface with handler; the interface file must
    // declare it.
    void add(const QString &interface, const QString &member, Handler handler);
    // The route of a call, or none.
    const Route *find(const QDBusMessage &message) const;
    // Whether some method of interface is served.
    bool serves(const QString &interface) const { return m_interfaces.contains(interface); }
    // Methods of the interface files that have no handler.
    QStringList unserved() const;

private:
    // Each route twice: under "interface member" and under " member".
    QHash<QString, std::shared_ptr<const Route>> m_routes;
    QSet<QString> m_interfaces;
};

QCoro::Task<QDBusMessage> replyNow(QDBusMessage reply);

} // namespace quorvex
