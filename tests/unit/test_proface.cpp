// COMAR PROFACE: the reading in bytes 6 and 7 (the drivers are covered end
// to end).
#include "common/AutomationError.h"
#include "drivers/line/ComarProfaceFrame.h"

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
