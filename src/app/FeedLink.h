#pragma once
// Wires the plant feed and the Sparkplug B edge node to the rest of the
// process: the line's readings, health and configuration loads, the coil
// store's records, and the process lifetime:
// while a broker is configured the feed holds the process, so the line's
// state and its unsent records reach the broker with no client connected.
#include "common/KeepAlive.h"
#include "feed/PlantFeed.h"
#include "feed/SparkplugNode.h"

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
    // The feed's status, with the edge node's state under "sparkplug".
    QVariantMap status() const;

private:
    std::unique_ptr<CoilQueue> m_coils;
    std::unique_ptr<PlantFeed> m_feed;
    std::unique_ptr<SparkplugNode> m_node;
    KeepAliveToken m_configured;
};

} // namespace quorvex
