// COMAR PROFACE: the reading in bytes 6 and 7, and what each driver writes
// and leaves behind on an in-memory port.
#include "common/AutomationError.h"
#include "drivers/line/ComarProface.h"
#include "drivers/line/ComarProfaceFrame.h"
#include "serial/MemoryPort.h"
#include "tests/unit/RunTask.h"

#include <gtest/gtest.h>

using namespace quorvex;

TEST(ProfaceFrame, ReadingIsBytesSixAndSevenUnsigned)
{
    EXPECT_EQ(parseProfaceReading(QByteArray("\xFF\x00\x80zz\x01\x04\xD2\xFF", 9)), 1234);
    EXPECT_EQ(parseProfaceReading(QByteArray("@2RD06\xFF\xFF\r", 9)), 65535);
    EXPECT_EQ(parseProfaceReading(QByteArray("@2RD06\x80\x00\r", 9)), 32768);
    EXPECT_EQ(parseProfaceReading(QByteArray("@2RD06\x00\x00", 8)), 0);
    // Longer replies: nothing past byte 7 counts.
    EXPECT_EQ(parseProfaceReading(QByteArray("@2RD06\x00\x07\r\xFF\xFF\xFF", 12)), 7);
    try {
        parseProfaceReading(QByteArray("@2RD06\x01", 7));
        ADD_FAILURE() << "a reply without byte 7 has no reading";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), 5);
    }
}

namespace {

struct ProfaceRig {
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();
    QByteArray reply;

    ProfaceRig()
    {
        port->setPortOpen(true);
        port->onWrite = [this](const QByteArray &) { port->feedLater(reply, 10); };
    }
};

} // namespace

TEST(ProfaceDriver, ReadingsUseBinaryModeAndConsumeTheWholeReply)
{
    ProfaceRig rig;
    rig.port->feed("stale");
    rig.reply = QByteArray("@1RD06\x04\xD2\r\x05\x06", 11);
    const QVariant length = runTask(LeggiLunghezza_COMAR_PROFACE(rig.port));
    EXPECT_EQ(length.typeId(), QMetaType::Double);
    EXPECT_EQ(length.toDouble(), 1234);
    EXPECT_EQ(rig.port->written(), "@1\r");
    EXPECT_EQ(rig.port->InputMode(), PortControl::Binary);
    EXPECT_EQ(rig.port->InBufferCount(), 0);

    rig.reply = QByteArray("@2RD06\xFF\xFF\r", 9);
    EXPECT_EQ(runTask(LeggiPeso_COMAR_PROFACE(rig.port)).toDouble(), 65535);
    EXPECT_EQ(rig.port->written(), "@1\r@2\r");
}

TEST(ProfaceDriver, ZeroLeavesTextModeAndAlwaysGivesZero)
{
    ProfaceRig rig;
    rig.port->setInputMode(PortControl::Binary);
    rig.reply = "@3ZEROOK\r\n";
    EXPECT_EQ(runTask(AzzeraLunghezza_COMAR_PROFACE(rig.port)).toDouble(), 0);
    EXPECT_EQ(rig.port->written(), "@3\r");
    EXPECT_EQ(rig.port->InputMode(), PortControl::Text);
    EXPECT_EQ(rig.port->InBufferCount(), 0);
}

TEST(ProfaceDriver, PortErrorsPassThrough)
{
    auto closed = std::make_shared<MemoryPort>();
    for (auto driver : {LeggiPeso_COMAR_PROFACE, LeggiLunghezza_COMAR_PROFACE, AzzeraLunghezza_COMAR_PROFACE}) {
        try {
            runTask(driver(closed));
            ADD_FAILURE() << "a closed port must fail";
        } catch (const AutomationError &e) {
            EXPECT_EQ(e.kind(), ErrorKind::PortError);
        }
    }
}
