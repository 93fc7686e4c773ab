#include "api/DbusBinding.h"

#include "api/Diagnostics.h"
#include "api/History.h"
#include "api/Interfaces.h"
#include "common/AutomationError.h"
#include "common/Logging.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace quorvex {

namespace {

AutomationError badArguments(const QString &why)
{
    return AutomationError(ErrorKind::InvalidArgument, 5, why);
}

bool isWholeNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::UChar: return true;
    default: return false;
    }
}

// Invoke's arguments come in a list of variants: their number is checked
// here (a call by name has had its signature checked).
void checkArgumentCount(const Operation &op, const QVariantList &values)
{
    if (values.size() < op.requiredCount() || values.size() > int(op.params.size()))
        throw badArguments(
            QStringLiteral("%1 takes %2 to %3 arguments").arg(op.name).arg(op.requiredCount()).arg(op.params.size()));
}

// Converts the client's arguments (already in the operation's order) to a
// call. Port references are resolved here, so a bad one fails the call.
CallArgs convertArguments(const Operation &op, const QVariantList &values, Line &line)
{
    CallArgs args;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &v = values[i];
        switch (op.params[i].type) {
        case ValueType::Boolean:
            if (v.typeId() != QMetaType::Bool && !isWholeNumber(v) && v.typeId() != QMetaType::Double)
                throw badArguments(QStringLiteral("%1 must be a Boolean").arg(op.params[i].name));
            args.flag = v.typeId() == QMetaType::Bool ? v.toBool() : v.toDouble() != 0;
            break;
        case ValueType::Text:
            if (v.typeId() != QMetaType::QString)
                throw badArguments(QStringLiteral("%1 must be a text").arg(op.params[i].name));
            args.text = v.toString();
            break;
        case ValueType::Port:
            if (v.typeId() != QMetaType::QString && !isWholeNumber(v))
                throw badArguments(QStringLiteral("MSCObj must be a port reference"));
            args.port = line.resolvePort(v.toString());
            break;
        default: break;
        }
    }
    return args;
}

// A reading variant as D-Bus carries it: a double, a 16-bit integer, or the
// empty value as an empty array of variants.
QVariant readingForBus(const QVariant &value)
{
    if (!value.isValid())
        return QVariant::fromValue(QVariantList());
    if (value.typeId() == QMetaType::Short)
        return QVariant::fromValue(value.value<qint16>());
    return value;
}

QDBusMessage errorReply(const QDBusMessage &message, const AutomationError &error)
{
    return message.createErrorReply(QLatin1String(kErrorPrefix) + QLatin1String(errorKindName(error.kind())),
                                    QStringLiteral("%1: %2").arg(error.number()).arg(error.text()));
}

// What a call whose signature its method does not take is told.
QDBusMessage wrongArguments(const Dispatch::Route &route, const QDBusMessage &message)
{
    const QString text = QStringLiteral("%1 takes (%2), not (%3)")
                             .arg(route.member, route.signatures.join(QLatin1String(") or (")), message.signature());
    if (route.interface == QLatin1String(kInterfaceName))
        return errorReply(message, badArguments(text));
    return message.createErrorReply(QDBusError::InvalidArgs, text);
}

QDBusMessage unknownMethod(const QDBusMessage &message)
{
    const QString interface = message.interface();
    if (interface.isEmpty() || interface == QLatin1String(kInterfaceName))
        return message.createErrorReply(QDBusError::UnknownMethod,
                                        QStringLiteral("No operation named %1").arg(message.member()));
    return message.createErrorReply(QDBusError::UnknownMethod,
                                    QStringLiteral("No method %1 in %2").arg(message.member(), interface));
}

} // namespace

DbusBinding::DbusBinding(Line &line, QDBusConnection connection, const GlobalServices *services, QObject *parent)
        : QDBusVirtualObject(parent), m_line(line), m_services(services), m_connection(connection),
          m_watcher(new QDBusServiceWatcher(this)), m_diagnostics(new Diagnostics(line, connection, services, this))
{
    m_watcher->setConnection(m_connection);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &DbusBinding::clientGone);

    // Every operation of Global has one handler, the table's; the other
    // interfaces register theirs.
    const QString global = QLatin1String(kInterfaceName);
    for (const Operation &op : operations())
        m_dispatch.add(global, op.name,
                       [this, op = &op](QDBusMessage m) { return serve(op, m.arguments(), ReplyForm::Method, m); });
    m_dispatch.add(global, QStringLiteral("Invoke"), [this](QDBusMessage m) { return invoke(m); });
    m_diagnostics->serveOn(m_dispatch);
    m_dispatch.add(QLatin1String(kDiagnosticsInterface), QStringLiteral("Read"),
                   [this](QDBusMessage m) { return read(m); });
}

DbusBinding::~DbusBinding()
{
    m_connection.unregisterObject(QLatin1String(kObjectPath));
}

void DbusBinding::setHistory(History *history)
{
    history->serveOn(m_dispatch);
}

bool DbusBinding::registerObject()
{
    return m_connection.registerVirtualObject(QLatin1String(kObjectPath), this);
}

QString DbusBinding::introspect(const QString &path) const
{
    if (path != QLatin1String(kObjectPath))
        return {};
    QString xml;
    for (const Interface &interface : interfaces()) {
        if (m_dispatch.serves(interface.name))
            xml += interface.element;
    }
    return xml;
}

bool DbusBinding::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const Dispatch::Route *route = m_dispatch.find(message);
    const QString interface = message.interface();
    if (!route && !interface.isEmpty() && !m_dispatch.serves(interface))
        return false; // not ours: QtDBus answers it
    message.setDelayedReply(true);
    answer(route, message);
    return true;
}

QCoro::Task<> DbusBinding::answer(const Dispatch::Route *route, QDBusMessage message)
{
    ++m_callsInFlight;
    QDBusMessage reply;
    if (!route)
        reply = unknownMethod(message);
    else if (!route->signatures.contains(message.signature()))
        reply = wrongArguments(*route, message);
    else
        reply = co_await route->handler(message);
    m_connection.send(reply);
    if (--m_callsInFlight == 0)
        emit allCallsAnswered();
}

QCoro::Task<QDBusMessage> DbusBinding::invoke(QDBusMessage message)
{
    const QVariantList values = message.arguments();
    const quint32 dispId = values.at(0).toUInt();
    const Operation *op = findOperation(dispId);
    if (!op)
        co_return errorReply(
            message,
            AutomationError(
                ErrorKind::NotFound, 438,
                QStringLiteral("No operation with dispatch identifier 0x%1").arg(dispId, 8, 16, QLatin1Char('0'))));
    QVariantList args;
    for (const QVariant &v : qdbus_cast<QVariantList>(values.at(1)))
        args.append(unwrapDbusVariant(v));
    co_return co_await serve(op, std::move(args), ReplyForm::Invoke, std::move(message));
}

QCoro::Task<QDBusMessage> DbusBinding::read(QDBusMessage message)
{
    const QVariantList values = message.arguments();
    const QString name = values.at(0).toString();
    const Operation *op = findOperation(name);
    if (!op || op->driver())
        co_return message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("Read runs a generic operation of %1; %2 is not one").arg(kInterfaceName, name));
    QVariantList args;
    for (const QVariant &v : qdbus_cast<QVariantList>(values.at(1)))
        args.append(unwrapDbusVariant(v));
    co_return co_await serve(op, std::move(args), ReplyForm::Read, std::move(message));
}

// Runs one call to its end. The instance and the port stay alive in this
// frame until then, even if the client has gone.
QCoro::Task<QDBusMessage> DbusBinding::serve(const Operation *op, QVariantList values, ReplyForm form,
                                             QDBusMessage message)
{
    const std::shared_ptr<Global> instance = instanceFor(message.service());
    const KeepAliveToken inFlight = KeepAliveToken::take();
    QString problem;
    try {
        if (form != ReplyForm::Method)
            checkArgumentCount(*op, values);
        CallArgs args = convertArguments(*op, values, m_line);
        if (form == ReplyForm::Read)
            args.problem = &problem;
        const QVariant result = co_await instance->call(*op, std::move(args));
        if (form == ReplyForm::Read) {
            const QVariant inner =
                op->result == ValueType::None ? QVariant::fromValue(QVariantList()) : readingForBus(result);
            co_return message.createReply(QVariantList{QVariant::fromValue(QDBusVariant(inner)), problem});
        }
        if (form == ReplyForm::Invoke) {
            const QVariant inner =
                op->result == ValueType::None ? QVariant::fromValue(QVariantList()) : readingForBus(result);
            co_return message.createReply(QVariant::fromValue(QDBusVariant(inner)));
        }
        if (op->result == ValueType::Any)
            co_return message.createReply(QVariant::fromValue(QDBusVariant(readingForBus(result))));
        if (op->result == ValueType::None)
            co_return message.createReply();
        co_return message.createReply(result);
    } catch (const AutomationError &error) {
        // Read says why instead of failing, with the 0 of a failed reading;
        // arguments it cannot take are still refused.
        if (form == ReplyForm::Read && error.kind() != ErrorKind::InvalidArgument)
            co_return message.createReply(
                QVariantList{QVariant::fromValue(QDBusVariant(0.0)),
                             QStringLiteral("%1 (%2)").arg(error.text()).arg(error.number())});
        co_return errorReply(message, error);
    } catch (const std::exception &error) {
        co_return message.createErrorReply(QLatin1String(kErrorPrefix) + QLatin1String("Failed"),
                                           QStringLiteral("0: %1").arg(QString::fromLocal8Bit(error.what())));
    }
}

std::shared_ptr<Global> DbusBinding::instanceFor(const QString &client)
{
    auto it = m_instances.find(client);
    if (it != m_instances.end())
        return *it;
    m_watcher->addWatchedService(client);
    auto instance = std::make_shared<Global>(m_line, m_services);
    m_instances.insert(client, instance);
    qCDebug(lcDbus).noquote() << QStringLiteral("client %1 connected (%2 clients)").arg(client).arg(m_instances.size());
    // A client that left before its first call was handled is not watched
    // going away: release its instance as soon as the call is answered.
    if (!m_connection.interface()->isServiceRegistered(client))
        clientGone(client);
    return instance;
}

void DbusBinding::clientGone(const QString &client)
{
    m_watcher->removeWatchedService(client);
    if (m_instances.remove(client)) // the instance goes when its last call ends
        qCDebug(lcDbus).noquote() << QStringLiteral("client %1 left (%2 clients)").arg(client).arg(m_instances.size());
}

} // namespace quorvex
