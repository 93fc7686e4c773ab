// Height tracking end to end: the server started with MisuraMedia on, a CTM
// counter on port 3 and a height sensor (a second CTM counter, role Altezza)
// on port 4. The sampler's work is seen on the simulators' lines: what they
// were asked and when.
#include "tests/e2e/Harness.h"

#include "sim/instruments/CtmCounter.h"

#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <algorithm>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A counter that runs up to a target on its own, a few counts every
// simulator tick, and keeps the height sensor showing the height of the
// material now under it: height(count).
class MovingCounter : public sim::CtmCounter {
public:
    void follow(sim::CtmCounter *sensor, std::function<long(long)> height)
    {
        std::lock_guard lock(m_moveMutex);
        m_sensor = sensor;
        m_height = std::move(height);
    }
    void runTo(long target, long step)
    {
        std::lock_guard lock(m_moveMutex);
        m_target = target;
        m_step = step;
    }

protected:
    void onTick() override
    {
        std::lock_guard lock(m_moveMutex);
        const long now = count();
        if (now >= m_target)
            return;
        const long next = std::min(m_target, now + m_step);
        // The sensor sees the new material before the counter shows it.
        if (m_sensor)
            m_sensor->setCount(m_height(next));
        setCount(next);
    }

private:
    std::mutex m_moveMutex;
    sim::CtmCounter *m_sensor = nullptr;
    std::function<long(long)> m_height;
    long m_target = 0;
    long m_step = 0;
};

// The requests a counter has received, each with the time it arrived: 'P'
// a reading, 'A' the zero command.
class RequestLog {
public:
    void attach(sim::Instrument &instrument)
    {
        instrument.setMonitor([this](bool sent, std::string_view bytes) {
            if (sent)
                return;
            std::lock_guard lock(m_mutex);
            for (char c : bytes) {
                if (c == '\r' && (m_last == 'P' || m_last == 'A'))
                    m_requests.push_back({Clock::now(), m_last});
                m_last = c;
            }
        });
    }
    struct Request {
        Clock::time_point at;
        char kind;
    };
    std::vector<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    char m_last = 0;
};

class Tracking : public ServerTest {
protected:
    // Destroyed in reverse: the counter's thread, which writes to the log
    // and moves the sensor, ends first.
    RequestLog counterLog;
    sim::Handle<sim::CtmCounter> sensor = sim::launch<sim::CtmCounter>();
    sim::Handle<MovingCounter> counter = sim::launch<MovingCounter>();

    void SetUp() override
    {
        counterLog.attach(*counter);
        mapPort(3, counter->slavePath());
        mapPort(4, sensor->slavePath());
        configureRole("Contametri", "CTM", "1", 3, "1");
        configureRole("Altezza", "CTM", "1", 4, "1");
        setSetting("Altezza", "MisuraMedia", "true");
        setSetting("Altezza", "IntervalloDiCampionamento", "10");
        sensor->setCount(50); // the first coil's first sample, taken at start
    }

    // The server goes before the simulators it is talking to.
    void TearDown() override { stopServer(); }

    void startTracking(int sensorDistance, int operatorDistance)
    {
        setSetting("Altezza", "DistanzaSensoreArrotolatore", QString::number(sensorDistance));
        setSetting("Altezza", "DistanzaOperatoreArrotolatore", QString::number(operatorDistance));
        startServer();
    }

    // Waits for two counter readings that began after this call: the tick
    // of the first has then ended, its sample (if one was due) recorded.
    void settle()
    {
        const int n = counter->readRequests();
        ASSERT_TRUE(waitUntil([&] { return counter->readRequests() >= n + 2; })) << "the sampler stopped";
    }

    // The counter stands at length with height under the sensor; the sampler
    // has seen it.
    void standAt(long length, long height)
    {
        sensor->setCount(height);
        counter->setCount(length);
        settle();
        ASSERT_DOUBLE_EQ(callDouble("LeggiLunghezza"), double(length));
    }

    // Five samples at positions 30, 40, 50, 60, 70 (sensor 30 from the
    // coiler), heights 50 to 90, then the counter at 45: the coil closed
    // there holds the samples at 30 and 40, average 55, and the rebased
    // buffer is (-5, 60), (5, 70), (15, 80), (25, 90).
    void fillCoil()
    {
        for (long i = 0; i < 5; ++i)
            standAt(10 * i, 50 + 10 * i);
        standAt(45, 99);
        ASSERT_EQ(sensor->readRequests(), 5);
    }

    // The longest pause between two counter requests, in ms: what a stall
    // of the sampler looks like.
    long longestGapMs() const
    {
        const auto log = counterLog.requests();
        Clock::duration longest{};
        for (std::size_t i = 1; i < log.size(); ++i)
            longest = std::max(longest, log[i].at - log[i - 1].at);
        return long(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count());
    }

    int requestsOfKind(char kind) const
    {
        int n = 0;
        for (const auto &r : counterLog.requests())
            n += r.kind == kind ? 1 : 0;
        return n;
    }
};

TEST_F(Tracking, CounterReadTwentyTimesASecondHeightOnlyPerIntervalCachedAndForcedLength)
{
    startTracking(0, 0);
    // Counter standing at 0: readings at the sampler's rate, no sample due.
    settle();
    const int before = counter->readRequests();
    waitUntil([] { return false; }, 2000);
    const int perTwoSeconds = counter->readRequests() - before;
    EXPECT_GE(perTwoSeconds, 28) << "the sampler reads the counter too seldom; longest pause " << longestGapMs()
                                 << " ms";
    EXPECT_LE(perTwoSeconds, 42) << "the sampler reads the counter more than 20 times a second";
    EXPECT_EQ(sensor->readRequests(), 0) << "the height was read with no sample due";

    // A sample for each interval of length, the height read only then.
    standAt(10, 51); // 10 from the last position (0): a sample
    standAt(15, 52); // 5: none
    standAt(20, 53); // 10 from 10: a sample
    standAt(35, 54); // 15: a sample
    settle();
    EXPECT_EQ(sensor->readRequests(), 3);

    // The unforced length is the sampler's: a burst of calls adds no
    // request beyond the sampler's own ticks. The forced one reads.
    counter->setCount(77);
    settle();
    QElapsedTimer clock;
    clock.start();
    int from = counter->readRequests();
    for (int i = 0; i < 100; ++i)
        ASSERT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 77);
    EXPECT_LE(counter->readRequests() - from, clock.elapsed() / 50 + 2) << "LeggiLunghezza() asked the counter";
    from = counter->readRequests();
    for (int i = 0; i < 20; ++i)
        ASSERT_DOUBLE_EQ(callDouble("LeggiLunghezza", {true}), 77);
    EXPECT_GE(counter->readRequests() - from, 20) << "LeggiLunghezza(true) did not read the counter";
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza", {true}), 54) << "LeggiAltezza(true) reads the sensor";
}

TEST_F(Tracking, ZeroingPausesTheSamplerKeepsTheAverageForItsClientRebasesAndResumes)
{
    startTracking(30, 16);
    fillCoil();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 0) << "no coil closed yet";

    ASSERT_EQ(call("AzzeraLunghezza").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(counter->zeroCommands(), 1);
    // Between the zero command and the forced reading, 500 ms later, the
    // sampler did not ask the counter.
    const auto log = counterLog.requests();
    const auto zero = std::find_if(log.begin(), log.end(), [](const auto &r) { return r.kind == 'A'; });
    ASSERT_NE(zero, log.end());
    ASSERT_NE(zero + 1, log.end());
    EXPECT_EQ((zero + 1)->kind, 'P');
    EXPECT_GE((zero + 1)->at - zero->at, 450ms) << "a counter request came during the zeroing";

    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezza"), 55) << "the finished coil's average";
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other"));
    EXPECT_DOUBLE_EQ(callOn(other, "LeggiAltezza").arguments().value(0).toDouble(), 0)
        << "another client got this client's average";

    // Rebased: the counter at 0 and the operator 16 from the coiler see the
    // sample now at 15, height 80 (unrebased, the first sample, 50).
    settle();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezzaAlPuntoDiOsservazione"), 80);
    // Sampling again: the next interval of length gives a sample.
    standAt(20, 61); // position 50, 25 beyond the last (25)
    EXPECT_EQ(sensor->readRequests(), 6);
}

TEST_F(Tracking, HeightAtTheObservationPointFollowsAMovingCounter)
{
    // Heights change every 100 counts: 100, 110, 120, ...
    const auto height = [](long length) { return 100 + 10 * (length / 100); };
    counter->follow(sensor.get(), height);
    sensor->setCount(height(0));
    counter->setTickInterval(10ms);
    // The sensor 200 from the coiler, the operator 50: the material at the
    // operator passed the sensor 150 counts ago.
    startTracking(200, 50);
    for (long stop : {400L, 720L}) {
        counter->runTo(stop, 2);
        ASSERT_TRUE(waitUntil([&] { return counter->count() == stop; }, 30000));
        settle();
        ASSERT_DOUBLE_EQ(callDouble("LeggiLunghezza"), double(stop));
        EXPECT_DOUBLE_EQ(callDouble("LeggiAltezzaAlPuntoDiOsservazione"), double(height(stop - 150)))
            << "counter at " << stop;
    }
    // A sample for about every interval of the way, not one per tick.
    EXPECT_GE(sensor->readRequests(), 720 / 10 / 2);
    EXPECT_LE(sensor->readRequests(), 720 / 10 + 1);
}

TEST_F(Tracking, TwoZeroingsAtOnceRebaseOnceAndTheSamplerRunsAgain)
{
    startTracking(30, 16);
    fillCoil();
    QDBusConnection first = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("first"));
    QDBusConnection second = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
    QDBusPendingCall one = asyncCall(first, "AzzeraLunghezza");
    waitUntil([] { return false; }, 20); // a definite order of arrival
    QDBusPendingCall two = asyncCall(second, "AzzeraLunghezza");
    ASSERT_TRUE(waitUntil([&] { return one.isFinished() && two.isFinished(); }));
    ASSERT_EQ(one.reply().type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(two.reply().type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(counter->zeroCommands(), 2);

    // The first closed the coil; the second closed an empty one, at 0,
    // whose only sample is the one that straddles the new zero.
    EXPECT_DOUBLE_EQ(callOn(first, "LeggiAltezza").arguments().value(0).toDouble(), 55);
    EXPECT_DOUBLE_EQ(callOn(second, "LeggiAltezza").arguments().value(0).toDouble(), 60);
    // Rebased once: the operator sees the sample at 15 alone (rebased twice,
    // it would stand at -30 and be averaged with its neighbour, 85).
    settle();
    EXPECT_DOUBLE_EQ(callDouble("LeggiAltezzaAlPuntoDiOsservazione"), 80);
    const int readings = requestsOfKind('P');
    standAt(20, 61);
    EXPECT_GT(requestsOfKind('P'), readings + 1);
    EXPECT_EQ(sensor->readRequests(), 6) << "no sample after the zeroings";
}

} // namespace

namespace {

// Height tracking off at start; the sampler window loaded by a client.
class SamplerLoadedByAClient : public Tracking {
protected:
    void SetUp() override
    {
        Tracking::SetUp();
        setSetting("Altezza", "MisuraMedia", "0");
    }

    // A client that calls once and leaves: its instance goes with it.
    void callAndLeave(const QString &method, const QVariantList &args = {})
    {
        {
            QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "passing");
            ASSERT_EQ(callOn(client, method, args).type(), QDBusMessage::ReplyMessage) << method.toStdString();
        }
        QDBusConnection::disconnectFromBus("passing");
        waitUntil([] { return false; }, 500);
    }
};

TEST_F(SamplerLoadedByAClient, TrackingSwitchedOnAtTheNextLoadReadsTheCounter)
{
    counter->setCount(42);
    startServer();
    callAndLeave("ShowSampler", {true});
    ASSERT_TRUE(serverRunning()) << "the loaded window must keep the process";
    EXPECT_EQ(counter->readRequests(), 0) << "tracking is off: nothing to read with";

    // The ports closed with the last client; the next client's first call
    // loads the configuration again, now with tracking on.
    setSetting("Altezza", "MisuraMedia", "1");
    callAndLeave("LeggiPeso");
    settle();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 42) << "the sampler does not read the counter";
}

TEST_F(SamplerLoadedByAClient, HidingANeverLoadedSamplerLoadsItAndKeepsTheProcess)
{
    startServer();
    callAndLeave("ShowSampler", {false});
    waitUntil([] { return false; }, 500);
    EXPECT_TRUE(serverRunning()) << "a loaded sampler keeps the server running";
    EXPECT_TRUE(serviceRegistered());
}

} // namespace
