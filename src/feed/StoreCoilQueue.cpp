#include "feed/StoreCoilQueue.h"

#include "history/CoilStore.h"

#include <QJsonArray>

namespace quorvex {

QList<CoilMessage> StoreCoilQueue::unsent(int limit)
{
    QList<CoilMessage> messages;
    for (const CoilRecord &record : m_store.unpublished(limit))
        messages.append({record.id, recordJson(record)});
    return messages;
}

void StoreCoilQueue::markSent(qint64 id)
{
    m_store.markPublished(id);
}

int StoreCoilQueue::unsentCount()
{
    return m_store.unpublishedCount();
}

QJsonObject StoreCoilQueue::recordJson(const CoilRecord &record)
{
    QJsonArray profile;
    for (const QPointF &sample : record.profile)
        profile.append(QJsonArray{payloadNumber(sample.x()), payloadNumber(sample.y())});
    const bool weighed = record.weight.has_value();
    return {
        {QStringLiteral("closed"), payloadTime(record.closedUs / 1000)},
        {QStringLiteral("closedUs"), record.closedUs},
        {QStringLiteral("length"), payloadNumber(record.length)},
        {QStringLiteral("averageHeight"), payloadNumber(record.averageHeight)},
        {QStringLiteral("samples"), qint64(record.samples)},
        {QStringLiteral("weight"), weighed ? QJsonValue(payloadNumber(*record.weight)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("weightRead"),
         weighed ? QJsonValue(payloadTime(record.weightReadUs / 1000)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("profile"), profile},
    };
}

} // namespace quorvex
