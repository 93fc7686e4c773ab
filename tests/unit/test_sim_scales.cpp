// Polled scale simulators (D400, BC100M) and the model registry, checked
// through the line the way a driver sees them.
#include "sim/LineClient.h"
#include "sim/Registry.h"
#include "sim/instruments/BC100M.h"
#include "sim/instruments/D400.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

template<class Scale> struct Rig {
    sim::Handle<Scale> scale = sim::launch<Scale>();
    sim::LineClient client{scale->slavePath()};

    std::string ask(const std::string &request, std::size_t expected)
    {
        EXPECT_TRUE(client.write(request));
        return client.read(expected, 5s);
    }
};

} // namespace

TEST(SimD400, AnswersWeightAndTareRequests)
{
    Rig<sim::D400> rig;
    rig.scale->setWeight(12.34);
    rig.scale->setTare(1.5);

    EXPECT_EQ(rig.ask("XB\r", 15), "   12,340 kg  \r");
    EXPECT_EQ(rig.ask("XT\r", 15), "    1,500 kg  \r");
    EXPECT_EQ(rig.scale->received(), "XB\rXT\r");

    // Settings changed while running apply to the next request.
    rig.scale->setWeight(-0.5);
    rig.scale->setDecimals(1);
    EXPECT_EQ(rig.ask("XB\r", 15), "     -0,5 kg  \r");
}

TEST(SimD400, ParsesRequestsByLine)
{
    Rig<sim::D400> rig;
    // Split over writes, then an unknown line that must not answer nor
    // corrupt the next request.
    ASSERT_TRUE(rig.client.write("X"));
    EXPECT_EQ(rig.client.readUntilQuiet(100ms), "");
    EXPECT_EQ(rig.ask("B\r", 15), "    0,000 kg  \r");
    EXPECT_EQ(rig.ask("XX\rXB\r", 15), "    0,000 kg  \r");
    // Leftover bytes without a CR (long enough to exceed the line buffer)
    // do not hide the next request.
    EXPECT_EQ(rig.ask(std::string(100, '\x13') + "XT\r", 15), "    0,000 kg  \r");
    EXPECT_EQ(rig.client.readUntilQuiet(200ms), "");
}

TEST(SimD400, RawFieldReplacesTheNumber)
{
    Rig<sim::D400> rig;
    for (const std::string field : {"   12,340", "  ab,cde ", "         ", "     1500"}) {
        rig.scale->setWeightField(field);
        EXPECT_EQ(rig.ask("XB\r", 15), field + " kg  \r");
    }
    rig.scale->setWeightField(std::nullopt);
    rig.scale->setWeight(2);
    EXPECT_EQ(rig.ask("XB\r", 15), "    2,000 kg  \r");
}

TEST(SimD400, ReplyLengthTruncatesOrPads)
{
    Rig<sim::D400> rig;
    rig.scale->setWeight(7);
    rig.scale->setReplyLength(14);
    EXPECT_EQ(rig.ask("XB\r", 14), "    7,000 kg  ");
    EXPECT_EQ(rig.client.readUntilQuiet(300ms), "");

    rig.scale->setReplyLength(18);
    EXPECT_EQ(rig.ask("XB\r", 18), "    7,000 kg     \r");
}

TEST(SimD400, SilentScaleStillRecordsRequests)
{
    Rig<sim::D400> rig;
    rig.scale->setSilent(true);
    ASSERT_TRUE(rig.client.write("XB\r"));
    EXPECT_EQ(rig.client.readUntilQuiet(300ms), "");
    ASSERT_TRUE(rig.scale->waitForReceived(3, 5s));
    EXPECT_EQ(rig.scale->received(), "XB\r");
}

TEST(SimBC100M, AnswersEveryDollar)
{
    Rig<sim::BC100M> rig;
    rig.scale->setWeight(12.5);
    EXPECT_EQ(rig.ask("$", 8), "  12.50\r");
    EXPECT_EQ(rig.ask("$$", 16), "  12.50\r  12.50\r");

    // The D400 request means nothing to this model.
    ASSERT_TRUE(rig.client.write("XB\r"));
    EXPECT_EQ(rig.client.readUntilQuiet(300ms), "");

    rig.scale->setWeightField("  ab.cd");
    EXPECT_EQ(rig.ask("$", 8), "  ab.cd\r");
}

TEST(SimRegistry, CreatesModelsByNameAndConfiguresThemByText)
{
    EXPECT_EQ(sim::createInstrument("no-such-scale"), nullptr);
    for (const auto &model : sim::models()) {
        auto instrument = sim::createInstrument(model.name);
        ASSERT_NE(instrument, nullptr) << model.name;
        EXPECT_EQ(instrument->model(), model.name);
    }

    auto d400 = sim::createInstrument("d400");
    EXPECT_TRUE(d400->setOption("weight", "3.25"));
    EXPECT_TRUE(d400->setOption("tare", "1"));
    EXPECT_TRUE(d400->setOption("length", "14"));
    EXPECT_FALSE(d400->setOption("weight", "3,25"));
    EXPECT_FALSE(d400->setOption("decimals", "12"));
    EXPECT_EQ(static_cast<sim::D400 &>(*d400).weightFrame(), "    3,250 kg  ");

    auto bc100m = sim::createInstrument("bc100m");
    EXPECT_FALSE(bc100m->setOption("tare", "1"));
    EXPECT_TRUE(bc100m->setOption("weight", "3.25"));
}
