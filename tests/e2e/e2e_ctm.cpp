// CTM counter and PS11 weight stream end to end.
#include "tests/e2e/Harness.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/Ps11.h"

#include <QElapsedTimer>

using namespace e2e;

namespace {

class Ctm : public ServerTest {
protected:
    sim::Handle<sim::CtmCounter> counter = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::Ps11> ps11 = sim::launch<sim::Ps11>();

    void SetUp() override
    {
        mapPort(3, counter->slavePath());
        mapPort(4, ps11->slavePath());
    }

    // Every PS11 read that returns must leave the stream stopped.
    void expectPs11Stopped()
    {
        EXPECT_TRUE(waitUntil([this] { return !ps11->streaming(); }, 5000)) << "PS11 left streaming";
        EXPECT_EQ(ps11->starts(), ps11->stops());
    }
};

TEST_F(Ctm, CountAsLengthAndHeightUnderItalianAndEnglishLocales)
{
    counter->setCount(123);
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        configureRole("Contametri", "CTM", "1", 3, "1");
        configureRole("Altezza", "CTM", "1", 3, "1");
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 123) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 123) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza_CTM_1", {QStringLiteral("3")}), 123) << locale;
        stopServer();
    }
}

TEST_F(Ctm, DivisoreAndZeroCommand)
{
    counter->setCount(4500);
    configureRole("Contametri", "CTM", "1", 3, "0,01");
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 45);
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_CTM_1", {QStringLiteral("3")}), 4500);
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_CTM_1", {QStringLiteral("3")}), 0);
    EXPECT_TRUE(waitUntil([this] { return counter->zeroCommands() == 1; }));
    // The counter's answer to the zero command is not taken for the count.
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_CTM_1", {QStringLiteral("3")}), 0);
}

TEST_F(Ctm, WrongCheckCharactersAreAskedAgainUpToTenTimes)
{
    counter->setCount(77);
    counter->setBadChecks(3);
    configureRole("Contametri", "CTM", "1", 3);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 77);
    EXPECT_EQ(counter->readRequests(), 4);
    counter->setBadChecks(10);
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_EQ(counter->readRequests(), 14);
}

TEST_F(Ctm, ShortReplyGivesZeroAfterOneRequestAndNonNumberIsTypeMismatch)
{
    counter->setCount(5);
    counter->setReplyLength(7);
    configureRole("Contametri", "CTM", "1", 3);
    startServer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_EQ(counter->readRequests(), 1);

    counter->setReplyLength(0);
    counter->setDigits(" 1a2 ");
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    expectTypeMismatch("LeggiLunghezza_CTM_1", "3");
}

TEST_F(Ctm, Ps11WeightUnderItalianAndEnglishLocalesLeavesTheStreamStopped)
{
    ps11->setWeight(1234);
    // Divisore is stored in the user's regional format.
    for (const auto &[locale, divisore] : {std::pair{"it_IT.UTF-8", "0,01"}, std::pair{"en_US.UTF-8", "0.01"}}) {
        configureRole("Bilancia", "CTM", "PS11", 4, QString::fromLatin1(divisore));
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34) << locale;
        expectPs11Stopped();
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_CTM_PS11", {QStringLiteral("4")}), 1234) << locale;
        expectPs11Stopped();
        stopServer();
    }
}

TEST_F(Ctm, Ps11BadFramesAndFailuresStillStopTheStream)
{
    configureRole("Bilancia", "CTM", "PS11", 4);
    startServer();
    // A few frames with a wrong check, then good ones.
    ps11->setWeight(300);
    ps11->setBadFrames(3);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 300);
    expectPs11Stopped();
    // Both weight bytes 0x11: every frame is cut at the weight, ten rejections.
    ps11->setWeight(0x1111);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    expectPs11Stopped();
    // A stream that sends nothing: time-out.
    ps11->setFrame(std::string());
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);
    EXPECT_GE(clock.elapsed(), 2000);
    expectPs11Stopped();
}

} // namespace
