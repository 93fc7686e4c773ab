#include "api/DbusBinding.h"

#include "api/Diagnostics.h"
#include "api/History.h"
#include "common/AutomationError.h"
#include "common/Logging.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>

namespace quorvex {

namespace {

AutomationError badArguments(const QString &why)
{
    return AutomationError(ErrorKind::InvalidArgument, 5, why);
}

QString signatureOf(const std::vector<Parameter> &params, size_t count)
{
    QString sig;
    for (size_t i = 0; i < count; ++i)
        sig += dbusSignature(params[i].type);
    return sig;
}

// ", or (s)" for an operation that may also be called without its last
// arguments.
QString shortFormText(const Operation &op)
{
    if (op.requiredCount() == int(op.params.size()))
        return QString();
    return QStringLiteral(" or (%1)").arg(signatureOf(op.params, size_t(op.requiredCount())));
}

bool isWholeNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Int: case QMetaType::UInt:
    case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

// Converts the client's arguments (already in the operation's order) to a
// call. Port references are resolved here, so a bad one fails the call.
CallArgs convertArguments(const Operation &op, const QVariantList &values, Line &line)
{
    if (values.size() < op.requiredCount() || values.size() > int(op.params.size()))
        throw badArguments(QStringLiteral("%1 takes %2 to %3 arguments")
                               .arg(op.name)
                               .arg(op.requiredCount())
                               .arg(op.params.size()));
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
        default:
            break;
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
    return message.createErrorReply(
        QLatin1String(kErrorPrefix) + QLatin1String(errorKindName(error.kind())),
        QStringLiteral("%1: %2").arg(error.number()).arg(error.text()));
}

// Runs one call to its end and sends the reply. The instance and the port
// stay alive in this frame until then, even if the client has gone.
QCoro::Task<> serveCall(std::shared_ptr<Global> instance, const Operation *op, QVariantList values,
                        DbusBinding::ReplyForm form, QDBusMessage message, QDBusConnection connection)
{
    QDBusMessage reply;
    QString problem;
    try {
        CallArgs args = convertArguments(*op, values, instance->line());
        if (form == DbusBinding::ReplyForm::Read)
            args.problem = &problem;
        const QVariant result = co_await instance->call(*op, std::move(args));
        if (form == DbusBinding::ReplyForm::Read) {
            const QVariant inner = op->result == ValueType::None ? QVariant::fromValue(QVariantList())
                                                                 : readingForBus(result);
            reply = message.createReply(QVariantList{QVariant::fromValue(QDBusVariant(inner)), problem});
        } else if (form == DbusBinding::ReplyForm::Invoke) {
            const QVariant inner = op->result == ValueType::None ? QVariant::fromValue(QVariantList())
                                                                 : readingForBus(result);
            reply = message.createReply(QVariant::fromValue(QDBusVariant(inner)));
        } else if (op->result == ValueType::Any) {
            reply = message.createReply(QVariant::fromValue(QDBusVariant(readingForBus(result))));
        } else if (op->result == ValueType::None) {
            reply = message.createReply();
        } else {
            reply = message.createReply(result);
        }
    } catch (const AutomationError &error) {
        // Read says why instead of failing: the value is the 0 a direct call
        // would not even get.
        if (form == DbusBinding::ReplyForm::Read)
            reply = message.createReply(
                QVariantList{QVariant::fromValue(QDBusVariant(0.0)),
                             QStringLiteral("%1 (%2)").arg(error.text()).arg(error.number())});
        else
            reply = errorReply(message, error);
    } catch (const std::exception &error) {
        reply = message.createErrorReply(QLatin1String(kErrorPrefix) + QLatin1String("Failed"),
                                         QStringLiteral("0: %1").arg(QString::fromLocal8Bit(error.what())));
    }
    connection.send(reply);
}

} // namespace

DbusBinding::DbusBinding(Line &line, QDBusConnection connection, GlobalServices *services, QObject *parent)
    : QDBusVirtualObject(parent), m_line(line), m_services(services), m_connection(connection),
      m_watcher(new QDBusServiceWatcher(this)), m_diagnostics(new Diagnostics(line, connection, services, this))
{
    m_watcher->setConnection(m_connection);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &DbusBinding::clientGone);
}

DbusBinding::~DbusBinding()
{
    m_connection.unregisterObject(QLatin1String(kObjectPath));
}

bool DbusBinding::registerObject()
{
    return m_connection.registerVirtualObject(QLatin1String(kObjectPath), this);
}

QString DbusBinding::introspect(const QString &path) const
{
    if (path != QLatin1String(kObjectPath))
        return {};
    return interfaceXml() + diagnosticsXml() + (m_history ? historyXml() : QString());
}

QCoro::Task<> DbusBinding::serve(std::shared_ptr<Global> instance, const Operation *op, QVariantList values,
                                 ReplyForm form, QDBusMessage message)
{
    ++m_callsInFlight;
    const KeepAliveToken inFlight = KeepAliveToken::take();
    co_await serveCall(std::move(instance), op, std::move(values), form, std::move(message), m_connection);
    if (--m_callsInFlight == 0)
        emit allCallsAnswered();
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

bool DbusBinding::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (Diagnostics::handles(message)) {
        if (message.member() == QLatin1String("Read"))
            handleRead(message, connection);
        else
            m_diagnostics->handleCall(message, connection);
        return true;
    }
    if (m_history && History::handles(message)) {
        m_history->handleCall(message, connection);
        return true;
    }
    if (!message.interface().isEmpty() && message.interface() != QLatin1String(kInterfaceName))
        return false;

    const QString member = message.member();
    const Operation *op = nullptr;
    QVariantList values = message.arguments();
    const bool invoke = member == QLatin1String("Invoke");

    try {
        if (invoke) {
            if (message.signature() != QLatin1String("uav"))
                throw badArguments(QStringLiteral("Invoke takes (u dispid, av args)"));
            const quint32 dispId = values.at(0).toUInt();
            op = findOperation(dispId);
            if (!op)
                throw AutomationError(ErrorKind::NotFound, 438,
                                      QStringLiteral("No operation with dispatch identifier 0x%1")
                                          .arg(dispId, 8, 16, QLatin1Char('0')));
            QVariantList args = qdbus_cast<QVariantList>(values.at(1));
            values.clear();
            for (const QVariant &v : args)
                values.append(unwrapDbusVariant(v));
        } else {
            op = findOperation(member);
            if (!op) {
                connection.send(message.createErrorReply(
                    QDBusError::UnknownMethod, QStringLiteral("No operation named %1").arg(member)));
                return true;
            }
            const QString sig = message.signature();
            const bool full = sig == signatureOf(op->params, op->params.size());
            const bool shortForm = op->requiredCount() < int(op->params.size())
                && sig == signatureOf(op->params, op->requiredCount());
            if (!full && !shortForm)
                throw badArguments(QStringLiteral("%1 takes (%2)%3, not (%4)")
                                       .arg(member, signatureOf(op->params, op->params.size()),
                                            shortFormText(*op), sig));
        }
    } catch (const AutomationError &error) {
        connection.send(errorReply(message, error));
        return true;
    }

    message.setDelayedReply(true);
    serve(instanceFor(message.service()), op, values, invoke ? ReplyForm::Invoke : ReplyForm::Method, message);
    return true;
}

void DbusBinding::handleRead(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QVariantList arguments = message.arguments();
    if (message.signature() != QLatin1String("sav")) {
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("Read takes (sav): an operation and its arguments, not (%1)")
                                         .arg(message.signature())));
        return;
    }
    const QString name = arguments.at(0).toString();
    const Operation *op = findOperation(name);
    if (!op || op->driver()) {
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("Read runs a generic operation of %1; %2 is not one").arg(kInterfaceName, name)));
        return;
    }
    QVariantList values;
    for (const QVariant &v : qdbus_cast<QVariantList>(arguments.at(1)))
        values.append(unwrapDbusVariant(v));
    message.setDelayedReply(true);
    serve(instanceFor(message.service()), op, values, ReplyForm::Read, message);
}

} // namespace quorvex
