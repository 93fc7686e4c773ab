// [Impianto] as the feed reads it: values it cannot use fall back to their
// defaults, and a line name never adds topic levels or wildcards.
#include "feed/FeedSettings.h"
#include "line/SettingsStore.h"

#include <QSettings>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quorvex;

TEST(FeedSettings, DefaultsBoundsAndTopicSafeLineName)
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SettingsStore store;
    FeedSettings s = readFeedSettings(store.snapshot());
    EXPECT_FALSE(s.enabled());
    EXPECT_EQ(s.port, 1883);
    EXPECT_EQ(s.keepaliveSeconds, 60);
    EXPECT_EQ(s.line, QSysInfo::machineHostName());

    store.setValue("Impianto", "Server", " broker.local ");
    store.setValue("Impianto", "Porta", "70000");
    store.setValue("Impianto", "Keepalive", "2");
    store.setValue("Impianto", "Linea", "reparto/2+#");
    s = readFeedSettings(store.snapshot());
    EXPECT_TRUE(s.enabled());
    EXPECT_EQ(s.server, "broker.local");
    EXPECT_EQ(s.port, 1883);
    EXPECT_EQ(s.keepaliveSeconds, 60);
    EXPECT_EQ(s.topicPrefix(), "quorvex/reparto_2__/");

    store.setValue("Impianto", "Porta", "8883");
    store.setValue("Impianto", "Keepalive", "15");
    s = readFeedSettings(store.snapshot());
    EXPECT_EQ(s.port, 8883);
    EXPECT_EQ(s.keepaliveSeconds, 15);
}

TEST(FeedSettings, ServerListWithPortsAndIpv6)
{
    QStringList problems;
    const QList<MqttBroker> brokers =
        parseBrokers(QStringLiteral(" a.local, b.local:1884 ,[::1]:1885, ::1, c:x, [::2"), 1883, &problems);
    ASSERT_EQ(brokers.size(), 4);
    EXPECT_EQ(brokers[0].text(), "a.local:1883");
    EXPECT_EQ(brokers[1].text(), "b.local:1884");
    EXPECT_EQ(brokers[2].host, "::1");
    EXPECT_EQ(brokers[2].port, 1885);
    EXPECT_EQ(brokers[3].host, "::1");
    EXPECT_EQ(brokers[3].port, 1883);
    EXPECT_EQ(problems, QStringList({"c:x", "[::2"}));
}
