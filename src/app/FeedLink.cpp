#include "app/FeedLink.h"

#include "feed/FeedSettings.h"
#include "feed/StoreCoilQueue.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "line/SettingsStore.h"

namespace quorvex {

FeedLink::FeedLink(Line &line, CoilStore &coils, QObject *parent)
    : QObject(parent), m_coils(std::make_unique<StoreCoilQueue>(coils)), m_feed(std::make_unique<PlantFeed>(m_coils.get()))
{
    connect(&coils, &CoilStore::coilClosed, m_feed.get(), &PlantFeed::coilClosed);
    connect(&line, &Line::readingTaken, m_feed.get(), &PlantFeed::takeReading);
    connect(&line, &Line::configurationLoaded, m_feed.get(),
            [this] { m_feed->configure(readFeedSettings(SettingsStore())); });
    connect(m_feed.get(), &PlantFeed::enabledChanged, this, [this](bool enabled) {
        if (enabled)
            m_configured = KeepAliveToken::take();
        else
            m_configured.release();
    });
}

FeedLink::~FeedLink() = default;

} // namespace quorvex
