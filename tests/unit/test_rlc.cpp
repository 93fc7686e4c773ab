// RLC controller: where the status block starts, the checksum, the rounding
// of the reading and its limits; then the driver's attempts against an
// in-memory port.
#include "common/AutomationError.h"
#include "drivers/line/RlcControllerFrame.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"
#include "tests/unit/RunTask.h"

#include <gtest/gtest.h>

using namespace quorvex;

namespace {

QUORVEX_DRIVER(LeggiPeso_RLC_1);

// Length 0x4D2 (1234), weight 0x64 (100), status "00": the codes add up to
// 900, and 900 % 256 = 0x84.
const QByteArray kBlock("000004D20000006400");

int errorNumber(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AutomationError &e) {
        return e.number();
    }
    return 0;
}

} // namespace

TEST(RlcFrame, StatusBlockIsFoundAfterTheFirstParenthesisOrAtTheStart)
{
    const QByteArray reply = "(" + kBlock + "84)";
    EXPECT_TRUE(rlcChecksumMatches(reply));
    EXPECT_EQ(rlcFieldValue(reply, RlcField::Length), 124);
    EXPECT_EQ(rlcFieldValue(reply, RlcField::Weight), 11);

    // "(" at position 5: the fields move with it; a later "(" does not count.
    const QByteArray late = "\r\n#0(" + kBlock + "84(";
    EXPECT_EQ(rlcBlockStart(late), 5);
    EXPECT_TRUE(rlcChecksumMatches(late));
    EXPECT_EQ(rlcFieldValue(late, RlcField::Length), 124);

    // No "(": the block is characters 1 to 18.
    const QByteArray bare = kBlock + "84\r\n";
    EXPECT_EQ(rlcBlockStart(bare), 0);
    EXPECT_TRUE(rlcChecksumMatches(bare));
    EXPECT_EQ(rlcFieldValue(bare, RlcField::Weight), 11);
}

TEST(RlcFrame, ChecksumDigits)
{
    EXPECT_FALSE(rlcChecksumMatches("(" + kBlock + "85)"));
    // Lower case in fields and checksum: 'd' counts 0x20 more than 'D'.
    const QByteArrayView lower("(000004d20000006400a4)");
    EXPECT_TRUE(rlcChecksumMatches(lower));
    EXPECT_EQ(rlcFieldValue(lower, RlcField::Length), 124);
    // A reply that ends after one checksum digit is checked with that digit
    // alone: this block's codes add up to 0x404.
    const QByteArrayView oneDigit("xyz(0FFFFFFF00000064004");
    EXPECT_TRUE(rlcChecksumMatches(oneDigit));
    EXPECT_EQ(rlcFieldValue(oneDigit, RlcField::Length), 26843546);
    // No digit at all, or a character that is not hexadecimal: type mismatch.
    EXPECT_EQ(errorNumber([&] { rlcChecksumMatches("abcd(" + kBlock); }), 13);
    EXPECT_EQ(errorNumber([&] { rlcChecksumMatches("(" + kBlock + "8)"); }), 13);
    EXPECT_EQ(errorNumber([&] { rlcChecksumMatches("(" + kBlock + " 84"); }), 13);
    // Fewer than 18 characters after "(": the sum cannot be made.
    EXPECT_EQ(errorNumber([&] { rlcChecksumMatches("0123456789(" + kBlock.left(17)); }), 5);
    EXPECT_EQ(errorNumber([] { rlcChecksumMatches(QByteArrayView()); }), 5);
}

TEST(RlcFrame, ReadingIsRoundedHalfToEven)
{
    const std::pair<quint32, double> cases[] = {
        {0, 1},
        {1, 1},
        {5, 1},
        {6, 2},
        {10, 2},
        {16, 2},
        {26, 4},
        {36, 4},
        {1234, 124},
        {0x8000, 3278}, // large fields stay positive
        {0x7FFFFFF6u, 214748365}, // the largest h + 9 that fits
    };
    for (const auto &[h, expected] : cases)
        EXPECT_EQ(rlcReading(h), expected) << h;
    EXPECT_EQ(rlcFieldValue("(00000000" + kBlock.mid(8) + "XX", RlcField::Length), 1);
}

TEST(RlcFrame, FieldErrors)
{
    for (quint32 h : {0x7FFFFFF7u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(errorNumber([h] { rlcReading(h); }), 6) << h;
    EXPECT_EQ(errorNumber([] { rlcFieldValue("(7FFFFFF70000006400", RlcField::Length); }), 6);
    EXPECT_EQ(errorNumber([] { rlcFieldValue("(0000G4D20000006400", RlcField::Length); }), 13);
    EXPECT_EQ(errorNumber([] { rlcFieldValue("(+00004D20000006400", RlcField::Length); }), 13);
    EXPECT_EQ(errorNumber([] { rlcFieldValue("(000004D2 000006400", RlcField::Weight); }), 13);
    // The other field may be anything.
    EXPECT_EQ(rlcFieldValue("(000004D2zzzzzzzz00", RlcField::Length), 124);
}

namespace {

struct RlcRig {
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();
    QList<QByteArray> replies; // one per status request, the last repeated
    int requests = 0;

    RlcRig()
    {
        port->setPortOpen(true);
        port->onWrite = [this](const QByteArray &bytes) {
            if (bytes != "<0161>" || replies.isEmpty())
                return;
            port->feed(replies.at(std::min<qsizetype>(requests, replies.size() - 1)));
            ++requests;
        };
    }
};

} // namespace

TEST(RlcDriver, RetriesWhileTheChecksumIsWrongThenReads)
{
    RlcRig rig;
    const QByteArray bad = "(000004D2000000640085)";
    const QByteArray good = "(000004D2000000640084)trailing";
    rig.replies = {bad, bad, good};
    EXPECT_EQ(runTask(LeggiPeso_RLC_1(rig.port)).toDouble(), 11);
    EXPECT_EQ(rig.requests, 3);
    EXPECT_EQ(rig.port->written(), QByteArray("<0161>").repeated(3));
    EXPECT_EQ(rig.port->InBufferCount(), 0) << "what followed the reply is discarded";
    EXPECT_EQ(rig.port->InputMode(), PortControl::Text);
}
