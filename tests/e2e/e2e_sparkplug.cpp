// The Sparkplug B edge node end to end: the server publishing to a real
// mosquitto broker, what it publishes decoded by python3-protobuf with the
// classes protoc makes from the node's .proto, commands sent with
// mosquitto_pub.
#include "tests/e2e/Harness.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/SparkplugDecode.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <csignal>
#include <memory>

using namespace e2e;

namespace {

const QString kPrefix = QStringLiteral("spBv1.0/quorvex/");

class Sparkplug : public ServerTest {
protected:
    mqtt::Broker broker;
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::CtmCounter> height = sim::launch<sim::CtmCounter>();
    std::unique_ptr<mqtt::Subscriber> sub;

    void SetUp() override
    {
        qputenv("XDG_DATA_HOME", (configHome() + "/data").toLocal8Bit());
        ASSERT_TRUE(broker.start());
        mapPort(3, scale->slavePath());
        mapPort(4, counter->slavePath());
        mapPort(5, height->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3, "1");
        configureRole("Contametri", "CTM", "1", 4, "1");
        configureRole("Altezza", "CTM", "1", 5, "1");
        setSetting("Impianto", "Server", "127.0.0.1");
        setSetting("Impianto", "Porta", QString::number(broker.port()));
        setSetting("Impianto", "Linea", "L1");
        setSetting("Impianto", "Sparkplug", "1");
        // Births are not retained: the subscriber listens before the server starts.
        sub = std::make_unique<mqtt::Subscriber>(broker.port(), QStringLiteral("spBv1.0/#"), QString(), QString(),
                                                 QString(), true);
        waitUntil([] { return false; }, 500);
    }
    void TearDown() override { stopServer(); }

    static QString topic(const QString &type, const QString &device = {})
    {
        return kPrefix + type + QStringLiteral("/L1") + (device.isEmpty() ? QString() : QLatin1Char('/') + device);
    }
    bool waitFor(const QString &type, const QString &device, int n)
    {
        return sub->waitForCount(topic(type, device), n);
    }

    // Every message so far, decoded: {"topic", "timestamp", "seq", "metrics": {name: {...}}}.
    QList<QJsonObject> decoded() { return mqtt::decodeSparkplug(sub->messages()); }
    QList<QJsonObject> on(const QString &type, const QString &device = {})
    {
        QList<QJsonObject> found;
        for (const QJsonObject &m : decoded())
            if (m.value("topic").toString() == topic(type, device))
                found.append(m);
        return found;
    }
    static QJsonObject metric(const QJsonObject &message, const QString &name)
    {
        return message.value("metrics").toObject().value(name).toObject();
    }

    // A command to the node, as a host application sends it.
    void command(const QString &metricName, const QString &onTopic)
    {
        const QString file = configHome() + "/command.bin";
        ASSERT_EQ(QProcess::execute(QStringLiteral(SYSTEM_PYTHON),
                                    {QStringLiteral(SPARKPLUG_SCRIPT), QStringLiteral(SPARKPLUG_PY_DIR),
                                     QStringLiteral("command"), metricName, file}),
                  0);
        ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_pub"),
                                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                     QString::number(broker.port()), QStringLiteral("-t"), onTopic,
                                     QStringLiteral("-f"), file}),
                  0);
    }

    // A coil wound over a few counter readings, then closed.
    void windAndClose()
    {
        for (long i = 1; i <= 4; ++i) {
            height->setCount(50 + i);
            counter->setCount(10 * i);
            const int n = counter->readRequests();
            ASSERT_TRUE(waitUntil([&] { return counter->readRequests() >= n + 2; }));
        }
        callDouble("AzzeraLunghezza");
    }

    // The primary host's STATE, retained, as a host application publishes it.
    void hostState(const QByteArray &payload)
    {
        ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_pub"),
                                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                     QString::number(broker.port()), QStringLiteral("-q"), QStringLiteral("1"),
                                     QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("spBv1.0/STATE/SCADA"),
                                     QStringLiteral("-m"), QString::fromUtf8(payload)}),
                  0);
    }
    // Diagnostics.Feed()'s "sparkplug", a dictionary inside the dictionary.
    static QVariantMap node()
    {
        const QVariant value = feedStatus().value("sparkplug");
        return value.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(value.value<QDBusArgument>())
                                                 : value.toMap();
    }

    // Every message of the connection after its NBIRTH numbered one more
    // than the one before, 255 followed by 0.
    void expectConsecutiveSeq()
    {
        int last = -1;
        for (const QJsonObject &m : decoded()) {
            const QString t = m.value("topic").toString();
            if (t.contains("/NDEATH/") || t.contains("CMD/"))
                continue; // no seq, or not the node's
            const int seq = m.value("seq").toInt(-1);
            if (t.contains("/NBIRTH/"))
                EXPECT_EQ(seq, 0) << t.toStdString();
            else
                EXPECT_EQ(seq, (last + 1) % 256) << t.toStdString();
            last = seq;
        }
    }
};

TEST_F(Sparkplug, BirthsReadingsStateRebirthRefusedCommandsAndDeathWhenKilled)
{
    scale->setWeightField("   12,340");
    startServer();
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 1));

    const QJsonObject nbirth = on("NBIRTH").first();
    EXPECT_EQ(nbirth.value("seq").toInt(-1), 0);
    EXPECT_EQ(metric(nbirth, "bdSeq").value("value").toInteger(-1), 0);
    EXPECT_EQ(metric(nbirth, "bdSeq").value("datatype").toInt(), 4); // Int64
    EXPECT_EQ(metric(nbirth, "Node Control/Rebirth").value("value").toBool(true), false);
    EXPECT_FALSE(metric(nbirth, "Properties/Version").value("value").toString().isEmpty());

    const QJsonObject scaleBirth = on("DBIRTH", "Bilancia").first();
    EXPECT_EQ(metric(scaleBirth, "Stato").value("value").toString(), "ok");
    EXPECT_EQ(metric(scaleBirth, "LeggiPeso").value("datatype").toInt(), 10); // Double
    EXPECT_TRUE(metric(scaleBirth, "LeggiPeso").value("is_null").toBool());
    EXPECT_TRUE(metric(scaleBirth, "LeggiTara").contains("datatype"));
    EXPECT_TRUE(metric(on("DBIRTH", "Contametri").first(), "LeggiLunghezza").contains("datatype"));
    EXPECT_TRUE(metric(on("DBIRTH", "Altezza").first(), "LeggiAltezza").contains("datatype"));
    const QJsonObject coilBirth = on("DBIRTH", "Bobine").first();
    EXPECT_TRUE(metric(coilBirth, "Id").value("is_null").toBool());
    const QJsonObject profile = metric(coilBirth, "Profilo").value("value").toObject();
    EXPECT_EQ(metric(coilBirth, "Profilo").value("datatype").toInt(), 16); // DataSet
    EXPECT_EQ(profile.value("columns").toArray(), QJsonArray({"Lunghezza", "Altezza"}));
    EXPECT_EQ(profile.value("types").toArray(), QJsonArray({10, 10}));

    // A reading: DDATA with the reading's time.
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34);
    ASSERT_TRUE(waitFor("DDATA", "Bilancia", 1));
    const QJsonObject weight = metric(on("DDATA", "Bilancia").first(), "LeggiPeso");
    EXPECT_DOUBLE_EQ(weight.value("value").toDouble(), 12.34);
    EXPECT_GE(weight.value("timestamp").toInteger(), before - 1000);

    // A weight and a tare read together both arrive; the weight read again
    // unchanged is not sent again. Data names its metrics by alias alone.
    scale->setTareField("    1,250");
    scale->setWeightField("   13,500");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 13.5);
    scale->setWeightField("   14,000");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 14);
    EXPECT_DOUBLE_EQ(callDouble("LeggiTara"), 1.25);
    const auto told = [&](const QString &name) {
        QList<double> values;
        for (const QJsonObject &m : on("DDATA", "Bilancia")) {
            if (metric(m, name).contains("value"))
                values << metric(m, name).value("value").toDouble();
            for (const QJsonValue &v : m.value("metrics").toObject())
                EXPECT_FALSE(v.toObject().value("named").toBool()) << "a name in data";
        }
        return values;
    };
    ASSERT_TRUE(waitUntil([&] { return !told("LeggiTara").isEmpty() && told("LeggiPeso").last() == 14; }))
        << "a weight pending with a tare was lost";
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 14);
    scale->setTareField("    2,500");
    EXPECT_DOUBLE_EQ(callDouble("LeggiTara"), 2.5);
    ASSERT_TRUE(waitUntil([&] { return told("LeggiTara") == QList<double>({1.25, 2.5}); }));
    EXPECT_EQ(told("LeggiPeso").count(14), 1) << "an unchanged weight was sent again";
    QSet<qint64> aliases;
    for (const QJsonObject &birth : decoded()) {
        if (!birth.value("topic").toString().contains("BIRTH/"))
            continue;
        const QJsonObject metrics = birth.value("metrics").toObject();
        for (auto it = metrics.begin(); it != metrics.end(); ++it) {
            const QJsonValue alias = it.value().toObject().value("alias");
            if (it.key() == "bdSeq") {
                EXPECT_TRUE(alias.isNull());
                continue;
            }
            EXPECT_FALSE(alias.isNull()) << it.key().toStdString();
            EXPECT_FALSE(aliases.contains(alias.toInteger())) << "alias " << alias.toInteger() << " twice";
            aliases.insert(alias.toInteger());
        }
    }
    EXPECT_GE(aliases.size(), 12);

    // The scale stops answering, and answers again: its device dies once
    // and is born once with its values, however often it is asked
    // meanwhile; no Stato repeats.
    scale->setSilent(true);
    for (int i = 0; i < 4; ++i)
        callDouble("LeggiPeso");
    ASSERT_TRUE(waitFor("DDEATH", "Bilancia", 1));
    scale->setWeightField("   15,500");
    scale->setSilent(false);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 15.5);
    ASSERT_TRUE(waitFor("DBIRTH", "Bilancia", 2));
    EXPECT_DOUBLE_EQ(metric(on("DBIRTH", "Bilancia").last(), "LeggiPeso").value("value").toDouble(), 15.5);
    EXPECT_DOUBLE_EQ(metric(on("DBIRTH", "Bilancia").last(), "LeggiTara").value("value").toDouble(), 2.5);
    EXPECT_EQ(metric(on("DBIRTH", "Bilancia").last(), "Stato").value("value").toString(), "ok");
    scale->setSilent(true);
    callDouble("LeggiPeso");
    ASSERT_TRUE(waitFor("DDEATH", "Bilancia", 2));
    EXPECT_EQ(on("DBIRTH", "Bilancia").size(), 2);
    for (const QJsonObject &m : on("DDATA", "Bilancia"))
        EXPECT_FALSE(metric(m, "Stato").contains("value")) << "a state is told by death and birth";

    // A command that would write is refused; a rebirth is answered with
    // every birth again, the same bdSeq.
    command("Node Control/Reboot", topic("NCMD"));
    command("LeggiTara", topic("DCMD", "Bilancia"));
    command("Node Control/Rebirth", topic("NCMD"));
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 2));
    const QList<QJsonObject> births = on("NBIRTH");
    ASSERT_EQ(births.size(), 2) << "a refused command caused a birth";
    EXPECT_EQ(births.last().value("seq").toInt(-1), 0);
    EXPECT_EQ(metric(births.last(), "bdSeq").value("value").toInteger(-1), 0);
    EXPECT_EQ(on("DBIRTH", "Bilancia").size(), 2) << "a silent scale is no live device";
    EXPECT_EQ(on("DBIRTH", "Contametri").size(), 2);
    expectConsecutiveSeq();

    // A load that takes a role away: the node is born again without it.
    setSetting("Altezza", "Marca", "");
    setSetting("Altezza", "Modello", "");
    setSetting("Altezza", "Porta", "");
    diagnostics("Reload");
    ASSERT_TRUE(waitFor("NBIRTH", {}, 3));
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 3));
    EXPECT_EQ(on("DBIRTH", "Altezza").size(), 2);
    EXPECT_EQ(on("DBIRTH", "Contametri").size(), 3);
    expectConsecutiveSeq();

    // Killed: the broker publishes the NDEATH registered for this connection.
    ::kill(pid_t(m_server.processId()), SIGKILL);
    ASSERT_TRUE(waitFor("NDEATH", {}, 1));
    EXPECT_EQ(metric(on("NDEATH").first(), "bdSeq").value("value").toInteger(-1), 0);
}

TEST_F(Sparkplug, EachCoilRecordAndANewConnectionWithTheNextBdSeq)
{
    setSetting("Altezza", "MisuraMedia", "1");
    setSetting("Altezza", "IntervalloDiCampionamento", "10");
    height->setCount(50);
    startServer();
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 1));
    for (long i = 1; i <= 4; ++i) {
        height->setCount(50 + i);
        counter->setCount(10 * i);
        const int n = counter->readRequests();
        ASSERT_TRUE(waitUntil([&] { return counter->readRequests() >= n + 2; }));
    }
    callDouble("AzzeraLunghezza");
    ASSERT_TRUE(waitFor("DDATA", "Bobine", 1));
    const QJsonObject coil = on("DDATA", "Bobine").first();
    EXPECT_DOUBLE_EQ(metric(coil, "Lunghezza").value("value").toDouble(), 40);
    EXPECT_TRUE(metric(coil, "Peso").value("is_null").toBool());
    const qint64 id = metric(coil, "Id").value("value").toInteger();
    EXPECT_GT(id, 0);
    EXPECT_GE(metric(coil, "Profilo").value("value").toObject().value("rows").toArray().size(), 2);

    // New settings, a new connection: the old one ends with its NDEATH,
    // the new one is born with the next bdSeq and the last coil.
    setSetting("Impianto", "Keepalive", "30");
    diagnostics("Reload");
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 2));
    ASSERT_EQ(on("NDEATH").size(), 1);
    EXPECT_EQ(metric(on("NDEATH").first(), "bdSeq").value("value").toInteger(-1), 0);
    EXPECT_EQ(metric(on("NBIRTH").last(), "bdSeq").value("value").toInteger(-1), 1);
    EXPECT_EQ(metric(on("DBIRTH", "Bobine").last(), "Id").value("value").toInteger(), id);

    // A restarted server goes on from its predecessor's bdSeq.
    stopServer();
    startServer();
    ASSERT_TRUE(waitFor("NBIRTH", {}, 3));
    EXPECT_EQ(metric(on("NBIRTH").last(), "bdSeq").value("value").toInteger(-1), 2);
}

TEST_F(Sparkplug, TheNextBrokerOfTheListWhenOneStops)
{
    mqtt::Broker second;
    ASSERT_TRUE(second.start());
    setSetting("Impianto", "Server",
               QStringLiteral("127.0.0.1:%1, 127.0.0.1:%2").arg(broker.port()).arg(second.port()));
    mqtt::Subscriber births(second.port(), QStringLiteral("spBv1.0/#"), QString(), QString(), QString(), true);
    mqtt::Subscriber json(second.port(), QStringLiteral("quorvex/#"));
    startServer();
    ASSERT_TRUE(waitFor("NBIRTH", {}, 1));
    EXPECT_TRUE(births.on(topic("NBIRTH")).isEmpty());

    // The first broker goes: the node and the JSON feed each move on.
    broker.stop();
    ASSERT_TRUE(births.waitForCount(topic("NBIRTH"), 1, 30000));
    ASSERT_TRUE(births.waitForCount(topic("DBIRTH", "Bobine"), 1));
    EXPECT_TRUE(json.waitForCount(QStringLiteral("quorvex/L1/stato"), 1, 30000));
    EXPECT_EQ(json.on(QStringLiteral("quorvex/L1/stato")).last().payload, "online");
    EXPECT_TRUE(waitUntil([&] { return feedStatus().value("port").toInt() == second.port(); }))
        << "the broker in use is the one told";
}

TEST_F(Sparkplug, BornOnlyWhileThePrimaryHostIsOnlineWhatHappenedMeanwhileAfterwards)
{
    setSetting("Impianto", "HostPrimario", "SCADA");
    setSetting("Altezza", "MisuraMedia", "1");
    setSetting("Altezza", "IntervalloDiCampionamento", "10");
    height->setCount(50);
    hostState(R"({"online":false,"timestamp":1000})");
    startServer();
    ASSERT_TRUE(waitUntil([&] { return node().value("waitingForHost").toBool(); }));
    const ClientRun ports = runClient({"ports"});
    EXPECT_TRUE(ports.out.contains("waiting for primary host SCADA")) << ports.out.toStdString();
    EXPECT_TRUE(on("NBIRTH").isEmpty());

    hostState(R"({"online":true,"timestamp":2000})");
    ASSERT_TRUE(waitFor("DBIRTH", "Bobine", 1));
    EXPECT_FALSE(node().value("waitingForHost").toBool());
    const qint64 bdSeq = metric(on("NBIRTH").first(), "bdSeq").value("value").toInteger(-1);

    // A stale STATE is ignored (the rebirth after it finds the node born).
    hostState(R"({"online":false,"timestamp":1500})");
    command("Node Control/Rebirth", topic("NCMD"));
    ASSERT_TRUE(waitFor("NBIRTH", {}, 2));
    EXPECT_TRUE(on("NDEATH").isEmpty());

    // Offline: the session ends with its death, and a new one waits.
    hostState(R"({"online":false,"timestamp":3000})");
    ASSERT_TRUE(waitFor("NDEATH", {}, 1));
    EXPECT_EQ(metric(on("NDEATH").first(), "bdSeq").value("value").toInteger(-1), bdSeq);
    ASSERT_TRUE(waitUntil([&] { return node().value("waitingForHost").toBool(); }));
    EXPECT_EQ(on("NBIRTH").size(), 2);

    // Meanwhile a coil is closed and the scale falls silent and answers
    // again: nobody hears it now.
    const qint64 awayFrom = QDateTime::currentMSecsSinceEpoch();
    windAndClose();
    scale->setSilent(true);
    callDouble("LeggiPeso");
    scale->setSilent(false);
    callDouble("LeggiPeso");
    const qint64 awayUntil = QDateTime::currentMSecsSinceEpoch();
    EXPECT_EQ(on("NBIRTH").size(), 2);

    // A host of the older convention comes: births, then what happened
    // while it was away, each with its own time.
    hostState("ONLINE");
    ASSERT_TRUE(waitFor("NBIRTH", {}, 3));
    EXPECT_EQ(metric(on("NBIRTH").last(), "bdSeq").value("value").toInteger(-1), (bdSeq + 1) % 256);
    ASSERT_TRUE(waitFor("DDATA", "Bobine", 1));
    const QJsonObject coil = on("DDATA", "Bobine").first();
    EXPECT_TRUE(metric(coil, "Id").value("is_historical").toBool());
    const qint64 closed = metric(coil, "Id").value("timestamp").toInteger();
    EXPECT_GE(closed, awayFrom);
    EXPECT_LE(closed, awayUntil);
    const QJsonObject coilBirth = on("DBIRTH", "Bobine").last();
    EXPECT_EQ(metric(coilBirth, "Id").value("value").toInteger(), metric(coil, "Id").value("value").toInteger());
    EXPECT_EQ(metric(coilBirth, "Id").value("timestamp").toInteger(), closed) << "the birth tells the close time";
    ASSERT_TRUE(waitFor("DDATA", "Bilancia", 2));
    QStringList told;
    for (const QJsonObject &m : on("DDATA", "Bilancia")) {
        const QJsonObject state = metric(m, "Stato");
        EXPECT_TRUE(state.value("is_historical").toBool());
        EXPECT_GE(state.value("timestamp").toInteger(), awayFrom);
        told << state.value("value").toString();
    }
    EXPECT_EQ(told.join(' ').toStdString(), "silent ok");
    expectConsecutiveSeq();
}

} // namespace
