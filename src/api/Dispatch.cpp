#include "api/Dispatch.h"

#include "api/Interfaces.h"

namespace quorvex {

namespace {

QString key(const QString &interface, const QString &member)
{
    return interface + QLatin1Char(' ') + member;
}

} // namespace

void Dispatch::add(const QString &interface, const QString &member, Handler handler)
{
    auto route = std::make_shared<Route>(Route{interface, member, {}, std::move(handler)});
    if (const Interface *file = findInterface(interface)) {
        for (const Method &method : file->methods) {
            if (method.name == member && !route->signatures.contains(method.signature))
                route->signatures.append(method.signature);
        }
    }
    Q_ASSERT_X(!route->signatures.isEmpty(), "Dispatch::add", "a method its interface file does not declare");
    Q_ASSERT_X(!m_routes.contains(key(QString(), member)), "Dispatch::add", "a member name served twice");
    m_interfaces.insert(interface);
    m_routes.insert(key(interface, member), route);
    m_routes.insert(key(QString(), member), route);
}

const Dispatch::Route *Dispatch::find(const QDBusMessage &message) const
{
    return m_routes.value(key(message.interface(), message.member())).get();
}

QStringList Dispatch::unserved() const
{
    QStringList missing;
    for (const Interface &interface : interfaces()) {
        for (const Method &method : interface.methods) {
            if (!m_routes.contains(key(interface.name, method.name)))
                missing.append(key(interface.name, method.name));
        }
    }
    return missing;
}

QCoro::Task<QDBusMessage> replyNow(QDBusMessage reply)
{
    co_return reply;
}

} // namespace quorvex
