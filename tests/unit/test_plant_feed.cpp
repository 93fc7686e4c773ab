// The plant feed's coil records against a real mosquitto on a local port:
// sent oldest first, never more than the window of them unacknowledged, and
// marked sent only on the broker's acknowledgement, so that what a lost
// connection left unacknowledged goes out again on the next one. Also the
// payloads' numbers, and the edge node's keys leaving the connection alone.
#include "feed/PlantFeed.h"
#include "feed/StoreCoilQueue.h"
#include "history/CoilRecord.h"
#include "tests/support/MqttBroker.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

#include <csignal>

using namespace quorvex;

namespace {

// The store's side of the feed, in memory: a record is unsent until marked.
class MemoryQueue : public CoilQueue {
public:
    void add(qint64 id) { m_unsent.append({id, QJsonObject{{QStringLiteral("length"), double(id)}}}); }
    QList<CoilMessage> unsent(int limit) override { return m_unsent.mid(0, limit); }
    void markSent(qint64 id) override
    {
        marked.append(id);
        m_unsent.removeIf([id](const CoilMessage &m) { return m.id == id; });
    }
    int unsentCount() override { return int(m_unsent.size()); }

    QList<qint64> marked; // in the order of the acknowledgements

private:
    QList<CoilMessage> m_unsent;
};

QList<qint64> ids(const QList<mqtt::Message> &messages)
{
    QList<qint64> list;
    for (const mqtt::Message &m : messages)
        list.append(QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("id")).toInteger());
    return list;
}

QList<qint64> range(qint64 first, qint64 last)
{
    QList<qint64> list;
    for (qint64 id = first; id <= last; ++id)
        list.append(id);
    return list;
}

} // namespace

TEST(PlantFeed, CoilRecordsGoInOrderWithinTheWindowAndWhatWasNotAcknowledgedGoesAgain)
{
    mqtt::Broker broker;
    ASSERT_TRUE(broker.start());
    MemoryQueue queue;
    PlantFeed feed(&queue);
    FeedSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = broker.port();
    settings.line = QStringLiteral("T");
    feed.configure(settings);
    const auto connected = [&] { return feed.status().value(QStringLiteral("state")).toString() == "connected"; };
    ASSERT_TRUE(support::waitUntil(connected));
    mqtt::Subscriber sub(broker.port(), QStringLiteral("quorvex/T/#"));
    ASSERT_TRUE(sub.waitForCount(QStringLiteral("quorvex/T/stato"), 1)) << "retained: the subscription stands";

    // The edge node's keys leave the JSON topics' connection as it is; a
    // reconnection would be under way as configure returns.
    FeedSettings node = settings;
    node.sparkplug = true;
    node.group = QStringLiteral("G");
    node.primaryHost = QStringLiteral("scada");
    feed.configure(node);
    EXPECT_TRUE(connected()) << "Sparkplug, Gruppo and HostPrimario reconnected the JSON feed";

    const QString coils = QStringLiteral("quorvex/T/bobine");
    for (qint64 id = 1; id <= 20; ++id)
        queue.add(id);
    // With no event loop running the feed reads no acknowledgement: what the
    // subscriber gets is what it sends unacknowledged.
    feed.coilClosed();
    EXPECT_TRUE(sub.waitForCountHeld(coils, 8, 5000));
    sub.waitForCountHeld(coils, 9, 500);
    EXPECT_EQ(ids(sub.on(coils)), range(1, 8));
    // Each acknowledgement lets the next one out.
    ASSERT_TRUE(sub.waitForCount(coils, 20));
    EXPECT_TRUE(support::waitUntil([&] { return queue.unsentCount() == 0; }));
    EXPECT_EQ(ids(sub.on(coils)), range(1, 20));
    EXPECT_EQ(queue.marked, range(1, 20));

    // A broker that takes three records and dies before it acknowledges them.
    const pid_t pid = pid_t(broker.pid());
    ::kill(pid, SIGSTOP);
    for (qint64 id = 21; id <= 23; ++id)
        queue.add(id);
    feed.coilClosed();
    ::kill(pid, SIGKILL);
    broker.stop();
    ASSERT_TRUE(support::waitUntil([&] { return !connected(); }));
    EXPECT_EQ(queue.unsentCount(), 3) << "marked sent with no acknowledgement";
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(support::waitUntil([&] { return queue.unsentCount() == 0; }, 15000))
        << "the next connection did not send them again";
    EXPECT_EQ(queue.marked.mid(20), range(21, 23));
}

// Numbers arithmetic left a hair off their decimal are written as that
// decimal; integers of 16 digits (closedUs) stay exact.
TEST(PlantFeed, PayloadNumbersHaveAtMostFifteenSignificantDigits)
{
    CoilRecord record;
    record.closedUs = 1796811611402113;
    record.length = 0.1 + 0.2;
    record.averageHeight = 61.200000000000024;
    record.weight = 812.4000000000001;
    record.profile = {{-2.0000000000000004, 1.0 / 3.0}};
    const QByteArray coil = QJsonDocument(StoreCoilQueue::recordJson(record)).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(coil.contains(R"("averageHeight":61.2,)")) << coil.constData();
    EXPECT_TRUE(coil.contains(R"("length":0.3,)")) << coil.constData();
    EXPECT_TRUE(coil.contains(R"("weight":812.4,)")) << coil.constData();
    EXPECT_TRUE(coil.contains(R"("closedUs":1796811611402113,)")) << coil.constData();
    EXPECT_TRUE(coil.contains(R"("profile":[[-2,0.333333333333333]])")) << coil.constData();
    const QByteArray reading = PlantFeed::readingPayload(12.340000000000002, RoleOperation::LeggiPeso, 0);
    EXPECT_TRUE(reading.contains(R"("value":12.34})")) << reading.constData();
}
