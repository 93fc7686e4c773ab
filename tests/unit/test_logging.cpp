// Values in log lines: escaped control characters, a bounded length.
#include "common/Logging.h"

#include <gtest/gtest.h>

using namespace quorvex;

TEST(Logging, ValuesAreQuotedEscapedAndCut)
{
    const QString value = QStringLiteral("a") + QChar(0) + QStringLiteral("b\n\x1b") + QString(200, QLatin1Char('x'));
    const QString shown = quotedForLog(value);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("\"a\\x00b\\n\\x1bxxx"))) << shown.toStdString();
    // 120 characters of the value are shown, the 85 others are counted.
    EXPECT_TRUE(shown.endsWith(QStringLiteral("x\" (cut, 85 more characters)"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QChar(0)));
    EXPECT_EQ(quotedForLog(QStringLiteral("0.5")), QStringLiteral("\"0.5\""));
}
