// Continuous scales end to end: simulators that keep transmitting, read
// through LeggiPeso and through the drivers called directly.
#include "tests/e2e/Harness.h"

#include "sim/instruments/ContinuousScale.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QElapsedTimer>

using namespace e2e;

namespace {

class ContinuousScales : public ServerTest {
protected:
    sim::Handle<sim::Flytn> flytn = sim::launch<sim::Flytn>();
    sim::Handle<sim::Mc100> mc100 = sim::launch<sim::Mc100>();
    sim::Handle<sim::Bmc507> bmc507 = sim::launch<sim::Bmc507>();
    sim::Handle<sim::Alfabilici807> alfabilici = sim::launch<sim::Alfabilici807>();

    void SetUp() override
    {
        mapPort(3, flytn->slavePath());
        mapPort(4, mc100->slavePath());
        mapPort(5, bmc507->slavePath());
        mapPort(6, alfabilici->slavePath());
        flytn->setWeight(12.5);
        mc100->setWeight(12.5);
        bmc507->setWeight(3.75);
        alfabilici->setWeight(123.45);
    }

    // The variant a driver answers, with a D-Bus time-out beyond the
    // scales' own 22 s.
    QVariant callVariant(const QString &method, const QString &port)
    {
        const QDBusMessage reply = call(method, {port});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
    }

    static bool isEmptyVariant(const QVariant &v)
    {
        return v.userType() == qMetaTypeId<QDBusArgument>()
            && qvariant_cast<QDBusArgument>(v).currentSignature() == QLatin1String("av");
    }
};

TEST_F(ContinuousScales, EveryModelUnderItalianAndEnglishLocales)
{
    struct Case {
        const char *brand, *model;
        int port;
        double weight;
    };
    // The MC100 deletes the point: 012.50 reads 1250.
    const Case cases[] = {{"EUROBIL", "FLYTN", 3, 12.5},
                          {"PAVONE", "MC100", 4, 1250},
                          {"BMC", "507", 5, 3.75},
                          {"ALFABILICI", "807", 6, 123.45}};
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        for (const Case &c : cases) {
            configureRole("Bilancia", c.brand, c.model, c.port, "1");
            startServer(QString::fromLatin1(locale));
            EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), c.weight) << locale << " " << c.model;
            stopServer();
        }
    }
}

TEST_F(ContinuousScales, DirectCallsAnswerTheirOwnTypes)
{
    configureRole("Bilancia", "BMC", "507", 5);
    configureRole("Altezza", "ALFABILICI", "807", 6);
    configureRole("Contametri", "EUROBIL", "FLYTN", 3);
    startServer("it_IT.UTF-8");
    const QVariant bmc = callVariant("LeggiPeso_BMC_507", "5");
    EXPECT_EQ(bmc.typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(bmc.toDouble(), 3.75);
    EXPECT_DOUBLE_EQ(callVariant("LeggiPeso_ALFABILICI_807", "6").toDouble(), 123.45);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_EUROBIL_FLYTN", {QStringLiteral("3")}), 12.5);
}

TEST_F(ContinuousScales, DivisoreScalesTheReading)
{
    configureRole("Bilancia", "PAVONE", "MC100", 4, "0,01");
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_PAVONE_MC100", {QStringLiteral("4")}), 1250);
}

TEST_F(ContinuousScales, NoiseBetweenFramesIsSkipped)
{
    bmc507->setNoise("\r\n#G 99.99 junk");
    alfabilici->setNoise("%% 777.77 ");
    configureRole("Bilancia", "BMC", "507", 5);
    configureRole("Altezza", "ALFABILICI", "807", 6);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 3.75);
    EXPECT_DOUBLE_EQ(callVariant("LeggiPeso_ALFABILICI_807", "6").toDouble(), 123.45);
}

TEST_F(ContinuousScales, SilenceGivesZeroOrAnEmptyVariant)
{
    flytn->setStopAfter(0);
    configureRole("Bilancia", "EUROBIL", "FLYTN", 3);
    configureRole("Altezza", "BMC", "507", 5);
    startServer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_GE(clock.elapsed(), 2000);

    // The BMC 507 sends a few frames without a marker, then falls silent:
    // the window it falls silent in waits its 22 s and no further window
    // is tried.
    bmc507->setMarkerless(true);
    bmc507->setStopAfter(6);
    clock.restart();
    const QVariant v = callVariant("LeggiPeso_BMC_507", "5");
    EXPECT_TRUE(isEmptyVariant(v)) << v.typeName();
    EXPECT_GE(clock.elapsed(), 22000);
}

TEST_F(ContinuousScales, TenWindowsWithoutMarker)
{
    alfabilici->setMarkerless(true);
    alfabilici->setTickInterval(std::chrono::milliseconds(5));
    configureRole("Bilancia", "ALFABILICI", "807", 6);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    const QVariant v = callVariant("LeggiPeso_ALFABILICI_807", "6");
    EXPECT_EQ(v.typeId(), QMetaType::Short);
    EXPECT_EQ(v.toInt(), 0);
}

TEST_F(ContinuousScales, FieldThatDoesNotConvertIsZeroGenericallyAndTypeMismatchDirectly)
{
    bmc507->setWeightField(" ab.cd");
    mc100->setWeightField("......");
    configureRole("Bilancia", "BMC", "507", 5);
    configureRole("Altezza", "PAVONE", "MC100", 4);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    for (const auto &[driver, port] : {std::pair{"LeggiPeso_BMC_507", "5"}, std::pair{"LeggiPeso_PAVONE_MC100", "4"}}) {
        expectTypeMismatch(QString::fromLatin1(driver), QString::fromLatin1(port));
    }
}

} // namespace
