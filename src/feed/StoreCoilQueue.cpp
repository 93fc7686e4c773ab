#include "feed/StoreCoilQueue.h"

#include "history/CoilStore.h"
#include "line/PublishedValues.h"

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

// The record's fields the table gives a JSON key, but the id, which the
// message carries beside the line.
QJsonObject StoreCoilQueue::recordJson(const CoilRecord &record)
{
    QJsonObject json;
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Coil || !row.json || row.value == Value::Id)
            continue;
        const QVariant value = coilValue(record, row.value);
        QJsonValue field(QJsonValue::Null);
        if (row.type == PublishedType::Profile) {
            QJsonArray profile;
            for (const QPointF &sample : record.profile)
                profile.append(QJsonArray{payloadNumber(sample.x()), payloadNumber(sample.y())});
            field = profile;
        } else if (value.isNull()) {
        } else if (row.type == PublishedType::DateTime) {
            field = payloadTime(value.toLongLong() / 1000);
        } else if (row.type == PublishedType::Double) {
            field = payloadNumber(value.toDouble());
        } else {
            field = value.toLongLong();
        }
        json.insert(QLatin1String(row.json), field);
    }
    return json;
}

} // namespace quorvex
