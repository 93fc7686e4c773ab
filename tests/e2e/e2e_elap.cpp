// ELAP CM78 and CM78A counters end to end.
#include "tests/e2e/Harness.h"

#include "sim/instruments/Elap.h"

#include <QElapsedTimer>

using namespace e2e;

namespace {

class Elap : public ServerTest {
protected:
    sim::Handle<sim::Cm78> cm78 = sim::launch<sim::Cm78>();
    sim::Handle<sim::Cm78A> cm78a = sim::launch<sim::Cm78A>();

    void SetUp() override
    {
        mapPort(3, cm78->slavePath());
        mapPort(4, cm78a->slavePath());
        cm78->setValue(12.345);
        cm78a->setValue(123.456);
    }
};

TEST_F(Elap, BothModelsAsLengthAndWeightUnderItalianAndEnglishLocales)
{
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        configureRole("Contametri", "ELAP", "CM78", 3, "1");
        configureRole("Bilancia", "ELAP", "CM78A", 4, "1");
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 12.345) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 123.456) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_ELAP_CM78", {QStringLiteral("3")}), 12.345) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_ELAP_CM78A", {QStringLiteral("4")}), 123.456) << locale;
        stopServer();
    }
}

TEST_F(Elap, DivisoreAndZeroCommands)
{
    configureRole("Contametri", "ELAP", "CM78", 3, "0,5");
    configureRole("Bilancia", "ELAP", "CM78A", 4);
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 6.1725);
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_ELAP_CM78", {QStringLiteral("3")}), 0);
    EXPECT_TRUE(waitUntil([this] { return cm78->zeroCommands() == 1; }));
    // The counter's answer to the zero command is not taken for a reading.
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_ELAP_CM78A", {QStringLiteral("4")}), 0);
    EXPECT_TRUE(waitUntil([this] { return cm78a->zeroCommands() == 1; }));
}

TEST_F(Elap, ShortReplyGivesZeroAndIsDiscardedByTheNextRead)
{
    cm78->setReplyLength(17);
    configureRole("Contametri", "ELAP", "CM78", 3);
    startServer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_GE(clock.elapsed(), 2000);
    cm78->setReplyLength(0);
    cm78->setValue(7.5);
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 7.5);
}

TEST_F(Elap, FieldThatIsNoNumberIsZeroGenericallyAndTypeMismatchDirectly)
{
    cm78->setField("        ");
    cm78a->setField("12a.456");
    configureRole("Contametri", "ELAP", "CM78", 3);
    configureRole("Bilancia", "ELAP", "CM78A", 4);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    for (const auto &[driver, port] :
         {std::pair{"LeggiLunghezza_ELAP_CM78", "3"}, std::pair{"LeggiPeso_ELAP_CM78A", "4"}}) {
        expectTypeMismatch(QString::fromLatin1(driver), QString::fromLatin1(port));
    }
}

} // namespace
