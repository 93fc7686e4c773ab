#pragma once
// The coil record store as the feed's queue: each record as the JSON object
// published on "bobine".
#include "feed/CoilQueue.h"

namespace quorvex {

class CoilStore;
struct CoilRecord;

class StoreCoilQueue : public CoilQueue {
public:
    explicit StoreCoilQueue(CoilStore &store) : m_store(store) {}

    QList<CoilMessage> unsent(int limit) override;
    void markSent(qint64 id) override;
    int unsentCount() override;

    // closed (ISO 8601 UTC) and closedUs, length, averageHeight, samples,
    // weight and weightRead (null without a weighing), profile [[l, h], ...].
    static QJsonObject recordJson(const CoilRecord &record);

private:
    CoilStore &m_store;
};

} // namespace quorvex
