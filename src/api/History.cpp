#include "api/History.h"

#include "api/BusNames.h"
#include "history/CoilStore.h"
#include "line/PublishedValues.h"

#include <QDBusMetaType>
#include <QPointF>
#include <climits>

namespace quorvex {

namespace {

using CoilList = QList<QVariantMap>;
using ProfileList = QList<QPointF>;

// The record's fields the table gives a D-Bus key; a weight and its time
// only when the coil was weighed.
QVariantMap describeCoil(const CoilRecord &r)
{
    QVariantMap map;
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Coil || !row.dbus)
            continue;
        const QVariant value = coilValue(r, row.value);
        if (!value.isNull())
            map.insert(QLatin1String(row.dbus), value);
    }
    return map;
}

// A store that cannot be read is a failure, never an empty answer.
QDBusMessage storeFailed(const QDBusMessage &message, const QString &why)
{
    return message.createErrorReply(QLatin1String(kErrorPrefix) + QStringLiteral("Failed"),
                                    QStringLiteral("0: %1").arg(why));
}

} // namespace

History::History(CoilStore &store, QDBusConnection connection, std::function<void()> showHistory, QObject *parent)
        : QObject(parent), m_store(store), m_connection(connection), m_showHistory(std::move(showHistory))
{
    qDBusRegisterMetaType<CoilList>();
    qDBusRegisterMetaType<ProfileList>();
    connect(&m_store, &CoilStore::coilClosed, this, &History::sendCoilClosed);
}

// A method of the interface is an entry in its interface file plus one
// handler here; its signature is checked before the handler runs.
void History::serveOn(Dispatch &dispatch)
{
    const QString interface = QLatin1String(kHistoryInterface);
    dispatch.add(interface, QStringLiteral("Coils"), [this](QDBusMessage m) { return replyNow(coilsReply(m)); });
    dispatch.add(interface, QStringLiteral("Profile"), [this](QDBusMessage m) { return replyNow(profileReply(m)); });
    dispatch.add(interface, QStringLiteral("ShowHistory"), [this](QDBusMessage m) {
        if (m_showHistory)
            m_showHistory();
        return replyNow(m.createReply());
    });
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

} // namespace quorvex
