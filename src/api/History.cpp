#include "api/History.h"

#include "api/BusNames.h"
#include "api/Operations.h"
#include "history/CoilStore.h"

#include <QDBusError>
#include <QDBusMetaType>
#include <QPointF>
#include <climits>

namespace quorvex {

namespace {

using CoilList = QList<QVariantMap>;
using ProfileList = QList<QPointF>;

const QString kCoils = QStringLiteral("Coils");
const QString kProfile = QStringLiteral("Profile");
const QString kShowHistory = QStringLiteral("ShowHistory");

QVariantMap describeCoil(const CoilRecord &r)
{
    QVariantMap map{
        {QStringLiteral("id"), QVariant::fromValue(r.id)},
        {QStringLiteral("closed"), QVariant::fromValue(r.closedUs)},
        {QStringLiteral("length"), r.length},
        {QStringLiteral("averageHeight"), r.averageHeight},
        {QStringLiteral("samples"), QVariant::fromValue(r.samples)},
    };
    if (r.weight) {
        map.insert(QStringLiteral("weight"), *r.weight);
        map.insert(QStringLiteral("weightRead"), QVariant::fromValue(r.weightReadUs));
    }
    return map;
}

// A store that cannot be read is a failure, never an empty answer.
QDBusMessage storeFailed(const QDBusMessage &message, const QString &why)
{
    return message.createErrorReply(QLatin1String(kErrorPrefix) + QStringLiteral("Failed"),
                                    QStringLiteral("0: %1").arg(why));
}

// The signature each method takes.
QString signatureOf(const QString &member)
{
    if (member == kCoils)
        return QStringLiteral("xxu");
    if (member == kProfile)
        return QStringLiteral("x");
    return {};
}

} // namespace

History::History(CoilStore &store, QDBusConnection connection, std::function<void()> showHistory, QObject *parent)
    : QObject(parent), m_store(store), m_connection(connection), m_showHistory(std::move(showHistory))
{
    qDBusRegisterMetaType<CoilList>();
    qDBusRegisterMetaType<ProfileList>();
    connect(&m_store, &CoilStore::coilClosed, this, &History::sendCoilClosed);
}

bool History::handles(const QDBusMessage &message)
{
    if (message.interface() == QLatin1String(kHistoryInterface))
        return true;
    const QString member = message.member();
    return message.interface().isEmpty() && (member == kCoils || member == kProfile || member == kShowHistory);
}

void History::handleCall(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString member = message.member();
    if (member != kCoils && member != kProfile && member != kShowHistory) {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                 QStringLiteral("No method %1 in %2").arg(member, kHistoryInterface)));
        return;
    }
    const QString expected = signatureOf(member);
    if (message.signature() != expected) {
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("%1 takes (%2), not (%3)").arg(member, expected, message.signature())));
        return;
    }
    if (member == kCoils) {
        connection.send(coilsReply(message));
    } else if (member == kProfile) {
        connection.send(profileReply(message));
    } else {
        if (m_showHistory)
            m_showHistory();
        connection.send(message.createReply());
    }
}

QDBusMessage History::coilsReply(const QDBusMessage &message) const
{
    const QVariantList args = message.arguments();
    const quint32 limit = args.at(2).toUInt();
    // Within the bounds of an int: a larger limit means "all".
    const int rows = limit > quint32(INT_MAX) ? INT_MAX : int(limit);
    CoilList coils;
    for (const CoilRecord &r : m_store.coils(args.at(0).toLongLong(), args.at(1).toLongLong(), rows))
        coils.append(describeCoil(r));
    if (!m_store.readError().isEmpty())
        return storeFailed(message, m_store.readError());
    return message.createReply(QVariant::fromValue(coils));
}

QDBusMessage History::profileReply(const QDBusMessage &message) const
{
    const qint64 id = message.arguments().at(0).toLongLong();
    const std::optional<QList<QPointF>> profile = m_store.profile(id);
    if (!profile && !m_store.readError().isEmpty())
        return storeFailed(message, m_store.readError());
    if (!profile)
        return message.createErrorReply(QLatin1String(kErrorPrefix) + QStringLiteral("NotFound"),
                                        QStringLiteral("5: No coil with id %1").arg(id));
    return message.createReply(QVariant::fromValue(ProfileList(*profile)));
}

void History::sendCoilClosed(qint64 id)
{
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath), QLatin1String(kHistoryInterface),
                                                     QStringLiteral("CoilClosed"));
    signal << QVariant::fromValue(id);
    m_connection.send(signal);
}

QString historyXml()
{
    static const QString xml = interfaceElement(QStringLiteral(":/data/com.velkaro.Quorvex.History.xml"));
    return xml;
}

} // namespace quorvex
