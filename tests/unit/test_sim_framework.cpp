// Simulator framework: the pty line, pacing/chunking/delay, the received log,
// reconnects and shutdown. Uses a tiny echo instrument so the checks do not
// depend on any scale protocol.
#include "sim/Instrument.h"
#include "sim/LineClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <sys/resource.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class Echo : public sim::Instrument {
public:
    Echo() : Instrument("echo") {}
    std::atomic<int> ticks{0};

    using Instrument::reply;

protected:
    void onReceived(std::string_view bytes) override { reply(std::string(bytes)); }
    void onTick() override { ++ticks; }
};

// Misbehaving hooks: throws on 't', stops itself on 'q', otherwise echoes.
class Fragile : public sim::Instrument {
public:
    Fragile() : Instrument("fragile") {}

protected:
    void onReceived(std::string_view bytes) override
    {
        if (bytes.find('t') != std::string_view::npos)
            throw std::runtime_error("simulated fault");
        if (bytes.find('q') != std::string_view::npos) {
            stop();
            return;
        }
        reply(std::string(bytes) + slavePath());
    }
};

std::string allByteValues()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(SimLine, EveryByteValuePassesUnchangedBothWays)
{
    auto echo = sim::launch<Echo>();
    ASSERT_FALSE(echo->slavePath().empty());
    sim::LineClient client(echo->slavePath());
    ASSERT_TRUE(client.isOpen());

    // XON/XOFF, CR/LF, ^C, ^D and 0xFF must all be plain data on a raw line.
    const std::string bytes = allByteValues();
    ASSERT_TRUE(client.write(bytes));
    EXPECT_EQ(client.read(bytes.size(), 5s), bytes);
    ASSERT_TRUE(echo->waitForReceived(bytes.size(), 5s));
    EXPECT_EQ(echo->received(), bytes);
    // Nothing echoed twice by a line discipline.
    EXPECT_EQ(client.readUntilQuiet(200ms), "");

    echo->clearReceived();
    EXPECT_EQ(echo->received(), "");
}

TEST(SimLine, SurvivesClientCloseAndReopenWithoutSpinning)
{
    auto echo = sim::launch<Echo>();
    {
        sim::LineClient client(echo->slavePath());
        ASSERT_TRUE(client.write("one"));
        EXPECT_EQ(client.read(3, 5s), "one");
    }

    // No one holds the port: the simulator must idle, not spin on the master.
    const double cpuBefore = cpuSeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.25);

    sim::LineClient again(echo->slavePath());
    ASSERT_TRUE(again.isOpen());
    ASSERT_TRUE(again.write("two"));
    EXPECT_EQ(again.read(3, 5s), "two");
    EXPECT_TRUE(echo->isRunning());
    EXPECT_EQ(echo->received(), "onetwo");
}

TEST(SimLine, FlushLineDropsWhatTheClientHasNotRead)
{
    auto echo = sim::launch<Echo>();
    sim::LineClient client(echo->slavePath());
    echo->send("stale");
    echo->send("late", 10s);
    std::this_thread::sleep_for(200ms);
    echo->flushLine();
    echo->send("fresh");
    EXPECT_EQ(client.readUntilQuiet(300ms), "fresh");
}

TEST(SimSending, ChunkedReplyArrivesCompleteAndInOrder)
{
    auto echo = sim::launch<Echo>();
    echo->setChunking(7, 2ms);
    sim::LineClient client(echo->slavePath());
    std::string message;
    for (int i = 0; i < 100; ++i)
        message.push_back(static_cast<char>('A' + i % 26));
    echo->send(message);
    EXPECT_EQ(client.read(message.size(), 5s), message);
    EXPECT_EQ(client.readUntilQuiet(200ms), "");
}

TEST(SimSending, PacingTakesTheTimeOfTheLine)
{
    auto echo = sim::launch<Echo>();
    echo->setPacing(1200); // 8.3 ms per byte: 15 bytes need 125 ms
    sim::LineClient client(echo->slavePath());
    const auto start = Clock::now();
    echo->send("   12,340 kg  \r");
    EXPECT_EQ(client.read(15, 5s), "   12,340 kg  \r");
    EXPECT_GE(Clock::now() - start, 100ms);
}

TEST(SimSending, DelayedReplyIsLateAndDoesNotOvertakeEarlierOutput)
{
    auto echo = sim::launch<Echo>();
    sim::LineClient client(echo->slavePath());

    echo->setReplyDelay(500ms);
    const auto start = Clock::now();
    ASSERT_TRUE(client.write("ping"));
    EXPECT_EQ(client.read(4, 5s), "ping");
    EXPECT_GE(Clock::now() - start, 450ms);

    // An immediate send queued behind a delayed one waits for it.
    echo->setReplyDelay(0ms);
    echo->send("first", 300ms);
    echo->send("second");
    EXPECT_EQ(client.read(11, 5s), "firstsecond");
}

TEST(SimSending, SilenceAndNoiseShapeReplies)
{
    auto echo = sim::launch<Echo>();
    sim::LineClient client(echo->slavePath());

    echo->setSilent(true);
    ASSERT_TRUE(client.write("hush"));
    EXPECT_EQ(client.readUntilQuiet(300ms), "");
    EXPECT_TRUE(echo->waitForReceived(4, 5s)); // still recorded
    echo->setSilent(false);

    echo->setNoise("\x01\x7f");
    echo->reply("ok\r");
    EXPECT_EQ(client.read(5, 5s), "\x01\x7fok\r");

    echo->setNoise("");
    echo->setRandomNoise(6);
    echo->reply("ok\r");
    const std::string noisy = client.read(9, 5s);
    ASSERT_EQ(noisy.size(), 9u);
    EXPECT_EQ(noisy.substr(6), "ok\r");
}

TEST(SimSending, RejectsUnknownOrMalformedOptions)
{
    auto echo = sim::make<Echo>();
    EXPECT_TRUE(echo->setOption("pace", "9600"));
    EXPECT_TRUE(echo->setOption("silent", ""));
    EXPECT_FALSE(echo->setOption("pace", "fast"));
    EXPECT_FALSE(echo->setOption("delay", "-5"));
    EXPECT_FALSE(echo->setOption("no-such-option", "1"));
}

TEST(SimLifecycle, TickHookRunsWhileEnabled)
{
    auto echo = sim::launch<Echo>();
    echo->setTickInterval(10ms);
    const auto deadline = Clock::now() + 5s;
    while (echo->ticks < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_GE(echo->ticks, 3);
}

TEST(SimLifecycle, StopIsPromptEvenWithOutputPendingOrBlocked)
{
    auto echo = sim::launch<Echo>();
    const std::string path = echo->slavePath();

    // Minutes of paced output, and a burst nobody reads that fills the pty.
    echo->setPacing(300);
    echo->send(std::string(5000, 'x'));
    echo->setPacing(0);
    echo->send(std::string(200000, 'y'));
    std::this_thread::sleep_for(100ms);

    const auto start = Clock::now();
    echo->stop();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(echo->isRunning());

    // Restarting serves the same path and drops what was pending.
    echo->start();
    EXPECT_EQ(echo->slavePath(), path);
    sim::LineClient client(path);
    client.readUntilQuiet(200ms); // whatever had reached the pty before stop
    ASSERT_TRUE(client.write("back"));
    EXPECT_EQ(client.read(4, 5s), "back");
}

TEST(SimLifecycle, HookThatThrowsOrStopsDoesNotTakeTheProcessDown)
{
    auto fragile = sim::launch<Fragile>();
    const std::string path = fragile->slavePath();
    sim::LineClient client(path);

    ASSERT_TRUE(client.write("t"));
    ASSERT_TRUE(fragile->waitForReceived(1, 5s)); // "a" comes in a later read
    ASSERT_TRUE(client.write("a"));
    EXPECT_EQ(client.read(1 + path.size(), 5s), "a" + path);

    ASSERT_TRUE(client.write("q"));
    const auto deadline = Clock::now() + 5s;
    while (fragile->isRunning() && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(fragile->isRunning());

    fragile->start();
    ASSERT_TRUE(client.write("b"));
    EXPECT_EQ(client.read(1 + path.size(), 5s), "b" + path);
}
