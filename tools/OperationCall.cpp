#include "Cli.h"

#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/EditDistance.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QLocale>
#include <algorithm>
#include <climits>

namespace quorvex::cli {

namespace {

const QString kService = QLatin1String(quorvex::kServiceName);
const QString kPath = QLatin1String(quorvex::kObjectPath);
const QString kInterface = QLatin1String(quorvex::kInterfaceName);

// The operation of that exact name (D-Bus names are case-sensitive), or
// of that dispatch identifier.
const Operation *declaredOperation(const QString &name)
{
    const std::vector<Operation> &all = declaredOperations();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Operation &op) { return op.name == name; });
    return found == all.end() ? nullptr : &*found;
}

const Operation *declaredOperation(quint32 dispId)
{
    const std::vector<Operation> &all = declaredOperations();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Operation &op) { return op.dispId == dispId; });
    return found == all.end() ? nullptr : &*found;
}

QString typeName(ValueType type)
{
    switch (type) {
    case ValueType::None: return QString();
    case ValueType::Boolean: return QStringLiteral("boolean");
    case ValueType::Double: return QStringLiteral("double");
    case ValueType::Text: return QStringLiteral("text");
    case ValueType::Any: return QStringLiteral("any");
    case ValueType::Port: return QStringLiteral("port");
    }
    return QString();
}

QString describeParameters(const Operation &op)
{
    QStringList parts;
    for (const Parameter &p : op.params) {
        QString text = QStringLiteral("%1: %2").arg(p.name, typeName(p.type));
        if (p.optional) {
            if (p.type == ValueType::Boolean)
                text += p.defaultValue ? QStringLiteral(" = true") : QStringLiteral(" = false");
            text = QLatin1Char('[') + text + QLatin1Char(']');
        }
        parts << text;
    }
    return parts.join(QStringLiteral(", "));
}

QString formatList(const QVariantList &list)
{
    if (list.isEmpty())
        return QStringLiteral("Empty");
    QStringList parts;
    for (const QVariant &v : list)
        parts << formatValue(v);
    return parts.join(QStringLiteral(", "));
}

} // namespace

bool parseBoolean(const QString &text, const QString &parameterName)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1"))
        return true;
    if (word == QLatin1String("false") || word == QLatin1String("0"))
        return false;
    throw UsageError(QStringLiteral("%1 must be true, false, 1 or 0, not '%2'").arg(parameterName, text));
}

quint32 parseDispId(const QString &text)
{
    bool ok = false;
    quint32 value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toUInt(&ok, 16);
    else
        value = text.toUInt(&ok, 10);
    if (!ok || text.contains(QLatin1Char('+')) || text.contains(QLatin1Char(' ')))
        throw UsageError(QStringLiteral("'%1' is not a dispatch identifier (e.g. 0x60030002)").arg(text));
    return value;
}

QString suggestOperation(const QString &name)
{
    QString best;
    int bestDistance = INT_MAX;
    for (const Operation &op : declaredOperations()) {
        const QString candidate = op.name;
        const int d = editDistance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    // Only a near miss is worth suggesting: a changed letter case, a typo or two.
    const int allowed = std::max<int>(2, int(name.size()) / 4);
    return bestDistance <= allowed ? best : QString();
}

void resolveOperation(Request &request, QStringList words)
{
    if (request.byId) {
        request.op = declaredOperation(request.dispId);
        request.name = request.op ? request.op->name : QStringLiteral("Invoke");
        request.args = words;
        return;
    }
    if (words.isEmpty())
        throw UsageError(QStringLiteral("no operation given"));
    request.name = words.takeFirst();
    request.op = declaredOperation(request.name);
    if (!request.op) {
        QString message = QStringLiteral("unknown operation '%1'").arg(request.name);
        const QString hint = suggestOperation(request.name);
        if (!hint.isEmpty())
            message += QStringLiteral("; did you mean '%1'?").arg(hint);
        message += QStringLiteral(" ('quorvex --list' shows them all)");
        throw UsageError(message);
    }
    request.args = words;
}

QVariantList convertArguments(const Request &request)
{
    QVariantList values;
    if (!request.op) {
        // An identifier this client does not know: the server decides.
        for (const QString &a : request.args)
            values << a;
        return values;
    }
    const Operation &op = *request.op;
    const int given = int(request.args.size());
    if (given < op.requiredCount() || given > int(op.params.size())) {
        const QString count = op.requiredCount() == int(op.params.size())
            ? QString::number(op.params.size())
            : QStringLiteral("%1 to %2").arg(op.requiredCount()).arg(op.params.size());
        throw UsageError(QStringLiteral("%1 takes %2 argument(s), %3 given: %1(%4)")
                             .arg(op.name, count)
                             .arg(given)
                             .arg(describeParameters(op)));
    }
    for (int i = 0; i < given; ++i) {
        const Parameter &p = op.params[i];
        const QString &text = request.args.at(i);
        switch (p.type) {
        case ValueType::Boolean: values << parseBoolean(text, p.name); break;
        case ValueType::Double: {
            bool ok = false;
            const double d = QLocale::c().toDouble(text, &ok);
            if (!ok)
                throw UsageError(QStringLiteral("%1 must be a number, not '%2'").arg(p.name, text));
            values << d;
            break;
        }
        default:
            values << text; // text and port references go as given
            break;
        }
    }
    return values;
}

bool readsWithReason(const Request &request)
{
    return !request.byId && request.op && !request.op->takesPort()
        && (request.op->result != ValueType::None || request.op->roleOperation);
}

QDBusMessage buildCall(const Request &request)
{
    const QVariantList values = convertArguments(request);
    if (readsWithReason(request)) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, QLatin1String(kDiagnosticsInterface),
                                                              QStringLiteral("Read"));
        message << request.name << QVariant::fromValue(values);
        return message;
    }
    if (request.byId) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Invoke"));
        // QtDBus sends a QVariantList as "av", each value in its own variant.
        message << QVariant::fromValue(request.dispId) << QVariant::fromValue(values);
        return message;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, request.name);
    message.setArguments(values);
    return message;
}

QString formatValue(const QVariant &raw)
{
    const QVariant value = unwrapDbusVariant(raw);
    if (!value.isValid())
        return QString();
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
        if (argument.currentSignature() == QLatin1String("av"))
            return formatList(qdbus_cast<QVariantList>(argument));
        return QStringLiteral("(%1)").arg(argument.currentSignature());
    }
    switch (value.typeId()) {
    case QMetaType::Double: return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::Float: return QString::number(value.toFloat(), 'g', 7);
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QVariantList: return formatList(value.toList());
    case QMetaType::QStringList: return value.toStringList().join(QStringLiteral(", "));
    default: return value.toString();
    }
}

QString formatReply(const Request &request, const QDBusMessage &reply)
{
    if (request.op && request.op->result == ValueType::None)
        return QString();
    if (reply.arguments().isEmpty())
        return QString();
    return formatValue(reply.arguments().constFirst());
}

QString readingProblem(const Request &request, const QDBusMessage &reply)
{
    if (!readsWithReason(request) || reply.arguments().size() < 2)
        return QString();
    return reply.arguments().at(1).toString();
}

QString listOperations()
{
    QString out;
    for (const Operation &op : declaredOperations()) {
        QString line = QStringLiteral("%1  0x%2  %3(%4)")
                           .arg(op.slot, 2)
                           .arg(op.dispId, 8, 16, QLatin1Char('0'))
                           .arg(op.name, describeParameters(op));
        if (op.result != ValueType::None)
            line += QStringLiteral(" -> ") + typeName(op.result);
        out += line + QLatin1Char('\n');
    }
    return out;
}

} // namespace quorvex::cli
