#pragma once
// Wires the plant feed to the rest of the process: the line's readings and
// configuration loads, the coil store's records, and the process lifetime:
// while a broker is configured the feed holds the process, so the line's
// state and its unsent records reach the broker with no client connected.
#include "common/KeepAlive.h"
#include "feed/PlantFeed.h"

#include <QObject>
#include <memory>

namespace quorvex {

class CoilStore;
class Line;

class FeedLink : public QObject {
    Q_OBJECT
public:
    FeedLink(Line &line, CoilStore &coils, QObject *parent = nullptr);
    ~FeedLink() override;

    PlantFeed &feed() { return *m_feed; }

private:
    std::unique_ptr<CoilQueue> m_coils;
    std::unique_ptr<PlantFeed> m_feed;
    KeepAliveToken m_configured;
};

} // namespace quorvex
