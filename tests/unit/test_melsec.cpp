// MELSEC service command: the frames and their checksum, the selection by
// exact text, and the handshake against an in-memory port.
#include "drivers/line/MelsecFrame.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"
#include "tests/unit/RunTask.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quorvex;

namespace {
QUORVEX_DRIVER(ScriviServizio_CTM_MELSEC);
}

TEST(MelsecFrame, CommandFramesAndTheirChecksums)
{
    EXPECT_EQ(melsecCommandFrame("1"), QByteArray::fromHex("023730373038033039"));
    EXPECT_EQ(melsecCommandFrame("2"), QByteArray::fromHex("023730363038033038"));
    EXPECT_EQ(melsecCommandFrame("3"), QByteArray::fromHex("023730353038033037"));
    // Checksums are two upper-case digits, a leading zero included.
    EXPECT_EQ(melsecFrame(""),
              QByteArray("\x02\x03"
                         "03"));
    EXPECT_EQ(melsecFrame("\x07"),
              QByteArray("\x02\x07\x03"
                         "0A"));
    EXPECT_EQ(melsecFrame("\xFF\xFF"),
              QByteArray("\x02\xFF\xFF\x03"
                         "01"));
}

TEST(MelsecFrame, OnlyTheExactTextsSelectAFrame)
{
    for (const char *text : {"", " 1", "1 ", "01", "+1", "1.0", "4", "0", "12", "a", "\t2"})
        EXPECT_TRUE(melsecCommandFrame(QString::fromLatin1(text)).isEmpty()) << text;
    EXPECT_TRUE(melsecCommandFrame(QStringLiteral("\uFF11")).isEmpty()) << "full-width digit one";
}

TEST(MelsecFrame, OnlyTheFirstCharacterOfTheAnswerCounts)
{
    EXPECT_TRUE(melsecAcknowledged("\x06"));
    EXPECT_TRUE(melsecAcknowledged("\x06\x15junk"));
    EXPECT_FALSE(melsecAcknowledged(QByteArrayView()));
    EXPECT_FALSE(melsecAcknowledged("\x15"));
    EXPECT_FALSE(melsecAcknowledged("x\x06"));
}

TEST(MelsecDriver, NoAnswerToTheEnquiryEndsWithoutASecondWait)
{
    auto port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    port->onWrite = [&port](const QByteArray &) { port->feedLater("x", 3500); };
    EXPECT_EQ(runTask(ScriviServizio_CTM_MELSEC(port, QStringLiteral("1"))).toString(), QString());
    EXPECT_EQ(port->written(), "\x05");
    // Had the driver waited a second time, it would have consumed this byte.
    QEventLoop loop;
    QObject::connect(port.get(), &PortControl::inputChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(port->InBufferCount(), 1);
}
