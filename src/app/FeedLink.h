#pragma once
// Wires the plant feed to the rest of the process: the line's readings and
// configuration loads, the coil store's records, the Diagnostics interface,
// and the process lifetime (a configured feed keeps the server running).
#include "feed/PlantFeed.h"

#include <QObject>
#include <memory>

namespace quorvex {

class CoilStore;
class Line;
class OrderlyExit;
struct GlobalServices;

class FeedLink : public QObject {
    Q_OBJECT
public:
    FeedLink(Line &line, CoilStore &coils, GlobalServices &services, QObject *parent = nullptr);
    ~FeedLink() override;

    // From now on the feed holds the process while it is configured.
    void holdProcess(OrderlyExit &exit);
    PlantFeed &feed() { return *m_feed; }

private:
    std::unique_ptr<CoilQueue> m_coils;
    std::unique_ptr<PlantFeed> m_feed;
};

} // namespace quorvex
