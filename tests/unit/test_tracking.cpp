// The sample buffer, the sampler's tick and pause, and the zeroing sequence,
// with fake readings in place of the instruments.
#include "tracking/Campioni.h"
#include "tracking/Sampler.h"
#include "tracking/Zeroing.h"

#include "RunTask.h"
#include <QCoro/QCoroTimer>
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
    const std::pair<double, int> cases[] = {{5, 0},    {10, 0},   {12.5, 2}, {13, 2},
                                            {14, 3},   {14.5, 3}, {100, 3}};
    for (const auto &[v, k] : cases)
        EXPECT_EQ(c.CercaCampione(v, 1), k) << "v = " << v;
    EXPECT_EQ(Campioni().CercaCampione(3, 1), -1);

    Campioni one;
    one.append({10, 5});
    EXPECT_EQ(one.CercaCampione(100, 1), 0);
    // A negative interval must not stall the search on an exact position.
    EXPECT_EQ(c.CercaCampione(12, -1), 2);
    EXPECT_EQ(c.CercaCampione(std::nan(""), 1), 2);
}

TEST(Campioni, HeightAtTheObservationPoint)
{
    const Campioni c = firstBuffer();
    // p = 9 - 3 + 3.5 + 3 = 12.5: half a window past sample 2, averaged with 3.
    EXPECT_DOUBLE_EQ(c.altezzaAlPuntoDiOsservazione(9, {1, 3, 3.5}), 7.5);
    // p = 12.2: within a quarter window, sample 2 alone.
    EXPECT_DOUBLE_EQ(c.altezzaAlPuntoDiOsservazione(9, {1, 3, 3.2}), 7);
    // Found sample lies after p: averaged with the one before.
    Campioni gap;
    for (auto [p, h] : {std::pair{10.0, 5.0}, {11.0, 6.0}, {15.0, 7.0}, {16.0, 8.0}})
        gap.append({p, h});
    EXPECT_DOUBLE_EQ(gap.altezzaAlPuntoDiOsservazione(13, {1, 0, 0}), 6.5);
    EXPECT_EQ(Campioni().altezzaAlPuntoDiOsservazione(13, {1, 0, 0}), 0);
}

TEST(Campioni, ClosingACoilAveragesAndRebases)
{
    Campioni c = firstBuffer();
    EXPECT_DOUBLE_EQ(c.chiudiBobina(12.5, 1), 6);
    ASSERT_EQ(c.size(), 3);
    const double expected[3][2] = {{-0.5, 7}, {0.5, 8}, {1.5, 9}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(c.at(i).Posizione, expected[i][0]);
        EXPECT_DOUBLE_EQ(c.at(i).Altezza, expected[i][1]);
    }
    Campioni empty;
    EXPECT_EQ(empty.chiudiBobina(12.5, 1), 0);
    EXPECT_TRUE(empty.isEmpty());
}

class SamplerTest : public ::testing::Test {
protected:
    double length = 0;
    double height = 0;
    int lengthReads = 0;
    int heightReads = 0;
    std::chrono::milliseconds lengthDelay{0};
    Sampler sampler{[this]() -> QCoro::Task<double> {
                        ++lengthReads;
                        if (lengthDelay.count() > 0)
                            co_await QCoro::sleepFor(lengthDelay);
                        co_return length;
                    },
                    [this]() -> QCoro::Task<double> {
                        ++heightReads;
                        co_return height;
                    }};

    // No tick may outlive the fake readings it calls.
    void TearDown() override
    {
        sampler.pause();
        runTask(sampler.waitForTickToFinish());
    }
};

TEST_F(SamplerTest, TickRecordsASampleEachIntervalAndCountsThem)
{
    sampler.setSettings({0.2, 3, 0});
    height = 5.1;
    int count = -1;
    QObject::connect(&sampler, &Sampler::tickFinished, [&](int n) { count = n; });
    runTask(sampler.tick());
    ASSERT_EQ(sampler.campioni().size(), 1);
    EXPECT_EQ(sampler.campioni().at(0).Posizione, 3);
    EXPECT_EQ(sampler.campioni().at(0).Altezza, 5.1);
    EXPECT_EQ(count, 1);

    // Standing still, then moved by less than the interval: length read,
    // height not, no sample.
    length = 0.1;
    runTask(sampler.tick());
    EXPECT_EQ(sampler.UltimaLunghezza(), 0.1);
    EXPECT_EQ(sampler.campioni().size(), 1);
    EXPECT_EQ(lengthReads, 2);
    EXPECT_EQ(heightReads, 1);
    length = 0.2;
    runTask(sampler.tick());
    EXPECT_EQ(sampler.campioni().size(), 2);
    EXPECT_EQ(count, 2);
}

TEST_F(SamplerTest, TicksNeverOverlapAndStayAtTwentyASecond)
{
    int ticks = 0;
    QObject::connect(&sampler, &Sampler::lengthRead, [&] { ++ticks; });
    // A fast counter: one tick per 50 ms, no more.
    sampler.start();
    spin(500ms);
    EXPECT_GE(ticks, 8);
    EXPECT_LE(ticks, 11);

    // A slow counter, 70 ms a reading: each tick starts when the last ends.
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
    sampler.resume(); // one too many does not leave a credit
    sampler.pause();
    EXPECT_FALSE(sampler.isRunning());
    sampler.resume();

    sampler.SwitchTimer();
    EXPECT_FALSE(sampler.isEnabled());
    EXPECT_EQ(sampler.interval(), 0);
    EXPECT_FALSE(sampler.isRunning());
    sampler.SwitchTimer();
    EXPECT_TRUE(sampler.isEnabled());
    EXPECT_EQ(sampler.interval(), 50);
    EXPECT_TRUE(sampler.isRunning());
}

class ZeroingTest : public SamplerTest {
protected:
    ZeroingTest()
    {
        sampler.setSettings({1, 0, 0});
        sampler.campioni() = firstBuffer();
        length = 12.5;
        runTask(sampler.tick()); // UltimaLunghezza = 12.5, no sample due
        length = 0;
    }
    int zeroCommands = 0;
    int forcedReads = 0;
    std::vector<double> counter; // forced readings in turn, then the last again
    bool runningDuringZero = true;
    ZeroingSteps steps()
    {
        ZeroingSteps s;
        s.zeroCounter = [this]() -> QCoro::Task<> {
            ++zeroCommands;
            runningDuringZero = sampler.isRunning() || sampler.isTickRunning();
            co_return;
        };
        s.readLengthForced = [this]() -> QCoro::Task<double> {
            const std::size_t i = std::min<std::size_t>(std::size_t(forcedReads++), counter.size() - 1);
            co_return counter.empty() ? 0.0 : counter[i];
        };
        s.IntervalloDiCampionamento = 1;
        s.settle = 10ms;
        return s;
    }
};

TEST_F(ZeroingTest, ClosesTheCoilAtTheLastLengthAndResumes)
{
    sampler.start();
    counter = {12.6, 0.0};
    const auto media = runTask(AzzeraLunghezza(steps(), true, &sampler));
    ASSERT_TRUE(media);
    EXPECT_DOUBLE_EQ(*media, 6);
    EXPECT_FALSE(runningDuringZero);
    EXPECT_EQ(forcedReads, 2);
    EXPECT_EQ(sampler.campioni().size(), 3);
    EXPECT_DOUBLE_EQ(sampler.campioni().at(0).Posizione, -0.5);
    EXPECT_EQ(sampler.UltimaLunghezza(), 0);
    EXPECT_TRUE(sampler.isRunning());
}

TEST_F(ZeroingTest, FiveForcedReadsAtMostAndNoBufferWorkWhenOff)
{
    counter = {50};
    const auto media = runTask(AzzeraLunghezza(steps(), false, &sampler));
    EXPECT_FALSE(media);
    EXPECT_EQ(zeroCommands, 1);
    EXPECT_EQ(forcedReads, 5);
    EXPECT_EQ(sampler.campioni().size(), 5);
    EXPECT_EQ(sampler.UltimaLunghezza(), 12.5);
    // On, without a sampler: an empty coil.
    EXPECT_EQ(runTask(AzzeraLunghezza(steps(), true, nullptr)), 0.0);
}

TEST_F(ZeroingTest, TickInFlightEndsBeforeTheZeroCommand)
{
    sampler.start();
    length = 13.2;
    lengthDelay = 30ms;
    // Wait for a tick to be reading the counter.
    while (!sampler.isTickRunning())
        spin(5ms);
    double seenAtZero = -1;
    ZeroingSteps s = steps();
    s.zeroCounter = [&]() -> QCoro::Task<> {
        seenAtZero = sampler.UltimaLunghezza();
        co_return;
    };
    const auto media = runTask(AzzeraLunghezza(s, true, &sampler));
    EXPECT_EQ(seenAtZero, 13.2);
    EXPECT_DOUBLE_EQ(*media, 6.5); // samples at 10..13
}

TEST_F(ZeroingTest, TwoZeroingsAtOnceRebaseOnceAndResume)
{
    sampler.start();
    auto first = AzzeraLunghezza(steps(), true, &sampler);
    ZeroingSteps later = steps();
    later.settle = 100ms;
    auto second = AzzeraLunghezza(later, true, &sampler);
    const double a = *runTask(std::move(first));
    EXPECT_FALSE(sampler.isRunning()); // still held by the second
    const double b = *runTask(std::move(second));
    EXPECT_DOUBLE_EQ(a, 6);
    EXPECT_DOUBLE_EQ(b, 7); // only the sample carried into the new coil
    EXPECT_DOUBLE_EQ(sampler.campioni().at(0).Posizione, -0.5);
    EXPECT_TRUE(sampler.isRunning());
}

TEST_F(ZeroingTest, AFailedZeroCommandStillResumesTheSampler)
{
    sampler.start();
    ZeroingSteps s = steps();
    s.zeroCounter = []() -> QCoro::Task<> {
        throw std::runtime_error("no counter");
        co_return;
    };
    EXPECT_THROW(runTask(AzzeraLunghezza(s, true, &sampler)), std::runtime_error);
    EXPECT_TRUE(sampler.isRunning());
    EXPECT_EQ(sampler.campioni().size(), 5);
}
