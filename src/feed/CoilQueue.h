#pragma once
// What the feed needs of the coil record store: the records not yet
// acknowledged by the broker, oldest first, and a way to mark one sent.
#include <QDateTime>
#include <QJsonObject>
#include <QList>

namespace quorvex {

// A time in the feed's payloads: ISO 8601 in UTC, with milliseconds.
inline QString payloadTime(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

// A number in the feed's payloads: at most 15 significant digits, so a
// value that arithmetic left a hair off its decimal (61.200000000000024)
// is written as the decimal it stands for (61.2). Any 15-digit decimal
// survives the trip through a double, so nothing a reading carried is lost.
double payloadNumber(double value);

struct CoilMessage {
    qint64 id = 0;
    QJsonObject record; // the record's fields as published, without the line
};

class CoilQueue {
public:
    virtual ~CoilQueue() = default;
    // At most limit unsent records, oldest first.
    virtual QList<CoilMessage> unsent(int limit) = 0;
    virtual void markSent(qint64 id) = 0;
    virtual int unsentCount() = 0;
};

} // namespace quorvex
