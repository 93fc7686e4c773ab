// Polled scales end to end: client -> D-Bus -> dispatch -> driver -> pty ->
// simulator and back.
#include "tests/e2e/Harness.h"

#include "sim/instruments/BC100M.h"
#include "sim/instruments/D400.h"

#include <QElapsedTimer>

using namespace e2e;

namespace {

class PolledScales : public ServerTest {
protected:
    sim::Handle<sim::D400> d400 = sim::launch<sim::D400>();
    sim::Handle<sim::BC100M> bc100m = sim::launch<sim::BC100M>();

    void SetUp() override
    {
        mapPort(3, d400->slavePath());
        mapPort(4, bc100m->slavePath());
    }
};

TEST_F(PolledScales, D400WeightUnderItalianAndEnglishLocales)
{
    d400->setWeightField("   12,340");
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34) << locale;
        // The driver called directly with the server's port 3 gives the same.
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_BILANCIAI_D400", {QStringLiteral("3")}), 12.34) << locale;
        stopServer();
    }
}

TEST_F(PolledScales, DivisoreMultipliesAndBrandIsMatchedWithoutCase)
{
    d400->setWeightField("     1500");
    configureRole("Bilancia", "bilanciai", "d400", 3, "0,001");
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 1.5);
    // A client calling the driver directly gets the unscaled reading.
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_BILANCIAI_D400", {QStringLiteral("3")}), 1500);
}

TEST_F(PolledScales, TrailingBlankInBrandFindsNoDriver)
{
    d400->setWeightField("     1500");
    configureRole("Bilancia", "BILANCIAI ", "D400", 3);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_TRUE(d400->received().empty()) << "no driver may have talked to the scale";
}

TEST_F(PolledScales, TareOfD400AndNoTareForBC100M)
{
    d400->setTare(2.5);
    bc100m->setWeightField("  12.50");
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiTara"), 2.5);
    stopServer();

    configureRole("Bilancia", "EUROBIL", "BC100M", 4);
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.5);
    EXPECT_DOUBLE_EQ(callDouble("LeggiTara"), 0);
}

TEST_F(PolledScales, SilentScaleGivesZeroAfterTheTimeOut)
{
    d400->setSilent(true);
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    startServer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_GT(clock.elapsed(), 2000);
}

TEST_F(PolledScales, ShortReplyGivesZeroAndIsDiscardedByTheNextRead)
{
    d400->setWeightField("   12,340");
    d400->setReplyLength(14);
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    // The 14 characters left behind must not complete the next reply.
    d400->setReplyLength(0);
    d400->setWeightField("    7,000");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 7);
}

TEST_F(PolledScales, FieldWithLettersIsZeroGenericallyAndTypeMismatchDirectly)
{
    d400->setWeightField("  ab,cdef");
    configureRole("Bilancia", "BILANCIAI", "D400", 3);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    expectTypeMismatch("LeggiPeso_BILANCIAI_D400", "3");
}

TEST_F(PolledScales, ClientCanPassItsOwnDevicePath)
{
    d400->setWeightField("   42,000");
    startServer();
    const QString ref = QString::fromStdString(d400->slavePath()) + QStringLiteral(":19200,N,8,2");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_BILANCIAI_D400", {ref}), 42);
    const auto [name, message] = callError("LeggiPeso_BILANCIAI_D400", {QStringLiteral("/dev/nonexistent-port")});
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.PortError");
    const auto [name2, message2] = callError("LeggiPeso_BILANCIAI_D400", {QStringLiteral("77")});
    EXPECT_EQ(name2, "com.velkaro.Quorvex.Error.NotFound");
}

} // namespace
