// The sample buffer, the sampler's tick and pause, and the zeroing sequence,
// with fake readings in place of the instruments.
#include "tracking/Campioni.h"
#include "tracking/Sampler.h"
#include "tracking/Zeroing.h"

#include "RunTask.h"
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace quorvex;
using namespace std::chrono_literals;

namespace {

// W = 1, samples at 10..14 with heights 5..9.
Campioni firstBuffer()
{
    Campioni c;
    for (int i = 0; i < 5; ++i)
        c.append({10.0 + i, 5.0 + i});
    return c;
}

void spin(std::chrono::milliseconds ms)
{
    runTask(QCoro::sleepFor(ms));
}

} // namespace

TEST(Campioni, BisectionFindsTheWindowOrTheIndexBeforeTheLast)
{
    const Campioni c = firstBuffer();
    for (auto [v, k] : {std::pair{5.0, 0}, {10.0, 0}, {12.5, 2}, {13.0, 2}, {14.0, 3}, {14.5, 3}, {100.0, 3}})
        EXPECT_EQ(c.CercaCampione(v, 1), k) << "v = " << v;
    EXPECT_EQ(Campioni().CercaCampione(3, 1), -1);
    // No progress possible (negative W on an exact position, NaN): the
    // index examined, not an endless loop.
    EXPECT_EQ(c.CercaCampione(12, -1), 2);
    EXPECT_EQ(c.CercaCampione(std::nan(""), 1), 2);
}

TEST(Campioni, HeightAtTheObservationPoint)
{
    const Campioni c = firstBuffer();
    EXPECT_DOUBLE_EQ(c.altezzaAlPuntoDiOsservazione(9, {1, 3, 3.5}), 7.5); // p = 12.5, with the next
    EXPECT_DOUBLE_EQ(c.altezzaAlPuntoDiOsservazione(9, {1, 3, 3.2}), 7); // p = 12.2, alone
    EXPECT_DOUBLE_EQ(c.altezzaAlPuntoDiOsservazione(9, {1, 3, 3.25}), 7); // exactly W/4 away: alone
    Campioni gap;
    for (auto [p, h] : {std::pair{10.0, 5.0}, {11.0, 6.0}, {15.0, 7.0}, {16.0, 8.0}})
        gap.append({p, h});
    EXPECT_DOUBLE_EQ(gap.altezzaAlPuntoDiOsservazione(13, {1, 0, 0}), 6.5); // with the one before
    EXPECT_EQ(Campioni().altezzaAlPuntoDiOsservazione(13, {1, 0, 0}), 0);
}

TEST(Campioni, ClosingACoilAveragesAndRebases)
{
    Campioni c = firstBuffer();
    EXPECT_DOUBLE_EQ(c.closeCoil(12.5, 1), 6);
    ASSERT_EQ(c.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(c.at(i).Posizione, i - 0.5);
        EXPECT_DOUBLE_EQ(c.at(i).Altezza, 7 + i);
    }
    Campioni empty;
    EXPECT_EQ(empty.closeCoil(12.5, 1), 0);
    EXPECT_TRUE(empty.isEmpty());
}

class SamplerTest : public ::testing::Test {
protected:
    double length = 0;
    int lengthReads = 0, heightReads = 0;
    std::chrono::milliseconds lengthDelay{0};
    Sampler sampler{[this]() -> QCoro::Task<double> {
                        ++lengthReads;
                        if (lengthDelay.count() > 0)
                            co_await QCoro::sleepFor(lengthDelay);
                        co_return length;
                    },
                    [this]() -> QCoro::Task<double> {
                        ++heightReads;
                        co_return 5.1;
                    }};

    // No tick may outlive the fake readings it calls.
    void TearDown() override
    {
        sampler.pause();
        runTask(sampler.waitForTickToFinish());
    }
};

TEST_F(SamplerTest, TickReadsTheLengthAndSamplesEachInterval)
{
    sampler.setSettings({0.2, 3, 0});
    runTask(sampler.tick()); // empty buffer, counter at 0: sample at 3
    ASSERT_EQ(sampler.campioni().size(), 1);
    EXPECT_EQ(sampler.campioni().at(0).Posizione, 3);
    EXPECT_EQ(sampler.campioni().at(0).Altezza, 5.1);
    length = 0.1;
    runTask(sampler.tick());
    EXPECT_EQ(sampler.UltimaLunghezza(), 0.1);
    EXPECT_EQ(sampler.campioni().size(), 1);
    EXPECT_EQ(lengthReads, 2);
    EXPECT_EQ(heightReads, 1); // the height only when a sample is due
    length = 0.2;
    runTask(sampler.tick());
    EXPECT_EQ(sampler.campioni().size(), 2);
}

TEST_F(SamplerTest, TicksNeverOverlapAndStayAtTwentyASecond)
{
    int ticks = 0;
    QObject::connect(&sampler, &Sampler::lengthRead, [&] { ++ticks; });
    sampler.start();
    spin(500ms);
    EXPECT_GE(ticks, 8);
    EXPECT_LE(ticks, 11);

    // A 70 ms counter: each tick starts when the one before has ended.
    sampler.SwitchTimer();
    runTask(sampler.waitForTickToFinish());
    int inFlight = 0, most = 0;
    ticks = 0;
    Sampler slow(
        [&]() -> QCoro::Task<double> {
            most = std::max(most, ++inFlight);
            co_await QCoro::sleepFor(70ms);
            --inFlight;
            co_return 1.0;
        },
        {});
    QObject::connect(&slow, &Sampler::lengthRead, [&] { ++ticks; });
    slow.start();
    spin(500ms);
    slow.SwitchTimer();
    runTask(slow.waitForTickToFinish());
    EXPECT_EQ(most, 1);
    EXPECT_GE(ticks, 5);
    EXPECT_LE(ticks, 8);
}

TEST_F(SamplerTest, PausesNestAndSwitchTimerFlips)
{
    sampler.start();
    sampler.pause();
    sampler.pause();
    sampler.resume();
    EXPECT_FALSE(sampler.isRunning());
    sampler.resume();
    EXPECT_TRUE(sampler.isRunning());
    sampler.resume(); // one too many leaves no credit
    sampler.pause();
    EXPECT_FALSE(sampler.isRunning());
    sampler.resume();

    sampler.SwitchTimer();
    EXPECT_EQ(sampler.interval(), 0);
    EXPECT_FALSE(sampler.isRunning());
    sampler.SwitchTimer();
    EXPECT_EQ(sampler.interval(), 50);
    EXPECT_TRUE(sampler.isRunning());
}

// The sampler last read 12.5 on the first buffer; the counter then reads
// `counter` on each forced reading (its last value over and over).
class ZeroingTest : public SamplerTest {
protected:
    ZeroingTest()
    {
        sampler.setSettings({1, 0, 0});
        sampler.campioni() = firstBuffer();
        length = 12.5;
        runTask(sampler.tick());
        sampler.start();
    }
    std::vector<double> counter{0};
    int forcedReads = 0;
    double seenAtZero = -1;
    bool heldAtZero = false;
    ZeroingSteps steps(std::chrono::milliseconds settle = 10ms)
    {
        return {[this]() -> QCoro::Task<QString> {
                    seenAtZero = sampler.UltimaLunghezza();
                    heldAtZero = !sampler.isRunning() && !sampler.isTickRunning();
                    co_return QString();
                },
                [this]() -> QCoro::Task<double> {
                    co_return counter[std::min<std::size_t>(std::size_t(forcedReads++), counter.size() - 1)];
                },
                1, settle};
    }
};

TEST_F(ZeroingTest, ClosesTheCoilAtTheLastLengthAndResumes)
{
    counter = {12.6, 0};
    EXPECT_DOUBLE_EQ(*runTask(AzzeraLunghezza(steps(), true, &sampler)), 6);
    EXPECT_TRUE(heldAtZero);
    EXPECT_EQ(forcedReads, 2);
    EXPECT_EQ(sampler.campioni().size(), 3);
    EXPECT_DOUBLE_EQ(sampler.campioni().at(0).Posizione, -0.5);
    EXPECT_EQ(sampler.UltimaLunghezza(), 0);
    EXPECT_TRUE(sampler.isRunning());
}

TEST_F(ZeroingTest, FiveForcedReadsAtMostAndNoBufferWorkWhenOff)
{
    counter = {50};
    EXPECT_FALSE(runTask(AzzeraLunghezza(steps(), false, &sampler)));
    EXPECT_EQ(forcedReads, 5);
    EXPECT_EQ(sampler.campioni().size(), 5);
    EXPECT_EQ(sampler.UltimaLunghezza(), 12.5);
    EXPECT_EQ(runTask(AzzeraLunghezza(steps(), true, nullptr)), 0.0); // on, but no sampler
}

TEST_F(ZeroingTest, TheSettleWaitIsNeverShort)
{
    QElapsedTimer sinceZero;
    qint64 waited = -1;
    ZeroingSteps s = steps(500ms);
    s.zeroCounter = [&]() -> QCoro::Task<QString> {
        sinceZero.start();
        co_return QString();
    };
    s.readLengthForced = [&]() -> QCoro::Task<double> {
        waited = sinceZero.elapsed();
        co_return 0.0;
    };
    runTask(AzzeraLunghezza(std::move(s), false, &sampler));
    EXPECT_GE(waited, 500);
}

TEST_F(ZeroingTest, ATickInFlightEndsBeforeTheZeroCommand)
{
    length = 13.2;
    lengthDelay = 30ms;
    while (!sampler.isTickRunning())
        spin(5ms);
    EXPECT_DOUBLE_EQ(*runTask(AzzeraLunghezza(steps(), true, &sampler)), 6.5); // samples 10..13
    EXPECT_EQ(seenAtZero, 13.2);
}

TEST_F(ZeroingTest, TwoZeroingsAtOnceRebaseOnceHandOverOneCoilAndResume)
{
    std::vector<FinishedCoil> coils;
    ZeroingSteps s1 = steps(), s2 = steps(100ms);
    s1.coilFinished = s2.coilFinished = [&](const FinishedCoil &c) { coils.push_back(c); };
    auto first = AzzeraLunghezza(s1, true, &sampler);
    auto second = AzzeraLunghezza(s2, true, &sampler);
    EXPECT_DOUBLE_EQ(*runTask(std::move(first)), 6);
    EXPECT_FALSE(sampler.isRunning()); // still held by the second
    EXPECT_DOUBLE_EQ(*runTask(std::move(second)), 7); // the sample carried into the new coil
    EXPECT_DOUBLE_EQ(sampler.campioni().at(0).Posizione, -0.5);
    EXPECT_TRUE(sampler.isRunning());
    // The coil as the buffer held it before the rebase, and only once.
    ASSERT_EQ(coils.size(), 1u);
    EXPECT_EQ(coils[0].length, 12.5);
    EXPECT_EQ(coils[0].average, 6);
    ASSERT_EQ(coils[0].samples.size(), 3u);
    EXPECT_EQ(coils[0].samples[0].Posizione, 10);
    EXPECT_EQ(coils[0].samples[2].Altezza, 7);
}

TEST_F(ZeroingTest, AFailedZeroCommandClosesNoCoilAndStillResumesTheSampler)
{
    ZeroingSteps s = steps();
    s.zeroCounter = []() -> QCoro::Task<QString> {
        throw std::runtime_error("no counter");
        co_return QString();
    };
    EXPECT_THROW(runTask(AzzeraLunghezza(s, true, &sampler)), std::runtime_error);
    EXPECT_TRUE(sampler.isRunning());
    EXPECT_EQ(sampler.campioni().size(), 5);

    // A counter that did not zero: the coil goes on, nothing is handed over.
    int coils = 0;
    s.zeroCounter = []() -> QCoro::Task<QString> { co_return QStringLiteral("no answer within 2000 ms"); };
    s.coilFinished = [&coils](const FinishedCoil &) { ++coils; };
    QString why;
    EXPECT_FALSE(runTask(AzzeraLunghezza(s, true, &sampler, &why)));
    EXPECT_EQ(why, "no answer within 2000 ms");
    EXPECT_EQ(coils, 0);
    EXPECT_EQ(forcedReads, 0);
    EXPECT_EQ(sampler.campioni().size(), 5);
    EXPECT_EQ(sampler.UltimaLunghezza(), 12.5);
    EXPECT_TRUE(sampler.isRunning());
}
