#include "app/FeedLink.h"

#include "feed/FeedSettings.h"
#include "feed/StoreCoilQueue.h"
#include "history/CoilRecord.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "line/SettingsStore.h"

namespace quorvex {

namespace {

// A stored record with its profile.
std::optional<CoilRecord> withProfile(CoilStore &coils, std::optional<CoilRecord> record)
{
    if (record) {
        if (const std::optional<QList<QPointF>> profile = coils.profile(record->id))
            record->profile = *profile;
    }
    return record;
}

} // namespace

FeedLink::FeedLink(Line &line, CoilStore &coils, QObject *parent)
        : QObject(parent), m_coils(std::make_unique<StoreCoilQueue>(coils)),
          m_feed(std::make_unique<PlantFeed>(m_coils.get()))
{
    SparkplugNode::Sources sources;
    sources.health = [&line] { return line.health(); };
    sources.lastCoil = [&coils] {
        const QList<CoilRecord> newest = coils.coils(0, 0, 1);
        return withProfile(coils, newest.isEmpty() ? std::nullopt : std::optional(newest.first()));
    };
    m_node = std::make_unique<SparkplugNode>(std::move(sources));
    m_feed->setHealthSource([&line] { return line.health(); });

    connect(&coils, &CoilStore::coilClosed, m_feed.get(), &PlantFeed::coilClosed);
    connect(&coils, &CoilStore::coilClosed, m_node.get(), [this, &coils](qint64 id) {
        if (m_node->enabled())
            if (const std::optional<CoilRecord> record = withProfile(coils, coils.coil(id)))
                m_node->coilRecorded(*record);
    });
    // The JSON feed sends the readings the line's image takes.
    connect(&line.image(), &LineImage::changed, m_feed.get(), [this, &line](Value value) {
        const PublishedValue &row = published(value);
        if (row.source == ValueSource::Reading && row.operation)
            m_feed->takeReading(row.role, *row.operation, line.image().entry(value).value.toDouble());
    });
    connect(&line, &Line::readingTaken, m_node.get(), &SparkplugNode::takeReading);
    connect(&line, &Line::healthChanged, m_feed.get(), &PlantFeed::healthChanged);
    connect(&line, &Line::healthChanged, m_node.get(), &SparkplugNode::healthChanged);
    connect(&line, &Line::configurationLoaded, this, [this, &line] {
        const FeedSettings settings = readFeedSettings(line.loadedSettings());
        m_feed->configure(settings);
        m_node->configure(settings);
        m_feed->healthChanged();
        m_node->healthChanged();
    });
    connect(m_feed.get(), &PlantFeed::enabledChanged, this, [this](bool enabled) {
        if (enabled)
            m_configured = KeepAliveToken::take();
        else
            m_configured.release();
    });
}

FeedLink::~FeedLink() = default;

QVariantMap FeedLink::status() const
{
    QVariantMap status = m_feed->status();
    status.insert(QStringLiteral("sparkplug"), m_node->status());
    return status;
}

} // namespace quorvex
