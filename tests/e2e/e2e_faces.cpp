// The faces read one image of the line: while a Modbus client keeps the
// face reading the scale's weight and tare, a changed weight reaches the
// JSON feed and the Sparkplug node; a tare read beside it never hides it.
#include "tests/e2e/Harness.h"
#include "tests/support/FreePort.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/SparkplugDecode.h"

#include "sim/instruments/D400.h"

#include <QDBusArgument>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

using namespace e2e;

namespace {

// The Sparkplug messages so far with the value of metric, decoded by python3-protobuf.
QList<double> sparkplugValues(mqtt::Subscriber &sub, const QString &onTopic, const QString &metric)
{
    QList<double> values;
    for (const QJsonObject &m : mqtt::decodeSparkplug(sub.messages())) {
        const QJsonObject value = m.value("metrics").toObject().value(metric).toObject();
        if (m.value("topic").toString() == onTopic && value.contains("value"))
            values.append(value.value("value").toDouble());
    }
    return values;
}

QList<double> jsonValues(mqtt::Subscriber &sub, const QString &operation)
{
    QList<double> values;
    for (const mqtt::Message &m : sub.messages()) {
        const QJsonObject reading = QJsonDocument::fromJson(m.payload).object();
        if (reading.value("operation").toString() == operation)
            values.append(reading.value("value").toDouble());
    }
    return values;
}

class Faces : public ServerTest {
protected:
    mqtt::Broker broker;
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    const int modbusPort = support::freeTcpPort();

    void SetUp() override
    {
        qputenv("XDG_DATA_HOME", (configHome() + "/data").toLocal8Bit());
        ASSERT_TRUE(broker.start());
        mapPort(3, scale->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3, "1");
        setSetting("ModbusTCP", "Porta", QString::number(modbusPort));
        setSetting("Impianto", "Server", "127.0.0.1");
        setSetting("Impianto", "Porta", QString::number(broker.port()));
        setSetting("Impianto", "Linea", "L1");
        setSetting("Impianto", "Sparkplug", "1");
    }
    void TearDown() override { stopServer(); }
};

TEST_F(Faces, AWeightChangeReachesBothFeedsWhileModbusReadsWeightAndTare)
{
    scale->setWeightField("   12,500");
    mqtt::Subscriber json(broker.port(), QStringLiteral("quorvex/L1/letture/Bilancia"));
    // The births too: data names its metrics by the aliases they give.
    mqtt::Subscriber node(broker.port(), QStringLiteral("spBv1.0/#"), {}, {}, {}, true);
    waitUntil([] { return false; }, 500);
    startServer();
    ASSERT_TRUE(waitUntil([] {
        const QDBusMessage reply = diagnostics(QStringLiteral("ModbusTCP"));
        return qdbus_cast<QVariantMap>(reply.arguments().value(0)).value("state") == "listening";
    }));

    // A connected client: the face reads weight and tare every 200 ms.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(modbusPort));
    ASSERT_TRUE(client.waitForConnected(5000));
    ASSERT_TRUE(waitUntil([&] { return jsonValues(json, "LeggiTara").size() >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return jsonValues(json, "LeggiPeso").contains(12.5); }));

    scale->setWeightField("   15,500");
    EXPECT_TRUE(waitUntil([&] { return jsonValues(json, "LeggiPeso").contains(15.5); }))
        << "the new weight never reached letture/Bilancia";
    EXPECT_TRUE(waitUntil([&] {
        return sparkplugValues(node, QStringLiteral("spBv1.0/quorvex/DDATA/L1/Bilancia"), "LeggiPeso").contains(15.5);
    })) << "the new weight never reached the Sparkplug DDATA";
    client.abort();
}

} // namespace
