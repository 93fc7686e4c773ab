// MELSEC service command: the frames and their checksum, the selection by
// exact text, and the handshake against an in-memory port.
#include "common/AutomationError.h"
#include "drivers/line/Melsec.h"
#include "drivers/line/MelsecFrame.h"
#include "serial/MemoryPort.h"
#include "tests/unit/RunTask.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quorvex;

TEST(MelsecFrame, CommandFramesAndTheirChecksums)
{
    EXPECT_EQ(melsecCommandFrame("1"), QByteArray::fromHex("023730373038033039"));
    EXPECT_EQ(melsecCommandFrame("2"), QByteArray::fromHex("023730363038033038"));
    EXPECT_EQ(melsecCommandFrame("3"), QByteArray::fromHex("023730353038033037"));
    // Checksums are two upper-case digits, a leading zero included.
    EXPECT_EQ(melsecFrame(""), QByteArray("\x02\x03" "03"));
    EXPECT_EQ(melsecFrame("\x07"), QByteArray("\x02\x07\x03" "0A"));
    EXPECT_EQ(melsecFrame("\xFF\xFF"), QByteArray("\x02\xFF\xFF\x03" "01"));
}

TEST(MelsecFrame, OnlyTheExactTextsSelectAFrame)
{
    for (const char *text : {"", " 1", "1 ", "01", "+1", "1.0", "4", "0", "12", "a", "\t2"})
        EXPECT_TRUE(melsecCommandFrame(QString::fromLatin1(text)).isEmpty()) << text;
    EXPECT_TRUE(melsecCommandFrame(QStringLiteral("\uFF11")).isEmpty()) << "full-width digit one";
}

TEST(MelsecFrame, OnlyTheFirstCharacterOfTheAnswerCounts)
{
    EXPECT_TRUE(melsecAcknowledged(QStringLiteral("\x06")));
    EXPECT_TRUE(melsecAcknowledged(QStringLiteral("\x06\x15junk")));
    EXPECT_FALSE(melsecAcknowledged(QString()));
    EXPECT_FALSE(melsecAcknowledged(QStringLiteral("\x15")));
    EXPECT_FALSE(melsecAcknowledged(QStringLiteral("x\x06")));
}

namespace {

// A controller that answers ENQ with `enqAnswer` and a frame with ACK.
struct MelsecRig {
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();
    QByteArray enqAnswer = "\x06";

    MelsecRig()
    {
        port->setPortOpen(true);
        port->onWrite = [this](const QByteArray &bytes) {
            if (bytes == "\x05")
                port->feedLater(enqAnswer, 10);
            else if (bytes.startsWith('\x02'))
                port->feedLater("\x06", 10);
        };
    }
};

} // namespace

TEST(MelsecDriver, AcknowledgedEnquirySendsTheFrameAndConsumesEveryAnswer)
{
    MelsecRig rig;
    rig.port->setInputMode(PortControl::Binary);
    rig.port->feed("stale");
    rig.enqAnswer = "\x06\x15more"; // ACK with further bytes in the same read
    EXPECT_EQ(runTask(ScriviServizio_CTM_MELSEC(rig.port, QStringLiteral("2"))), QString());
    EXPECT_EQ(rig.port->written(), QByteArray::fromHex("05023730363038033038"));
    EXPECT_EQ(rig.port->InBufferCount(), 0);
    EXPECT_EQ(rig.port->InputMode(), PortControl::Text);
}

TEST(MelsecDriver, RefusalOrUnknownParametersWriteNothingAfterTheEnquiry)
{
    const std::pair<QByteArray, QString> cases[] = {{"\x15", "1"}, {"1\x06", "1"}, {"\x06", "4"}, {"\x06", " 1"}};
    for (const auto &[answer, parametri] : cases) {
        MelsecRig rig;
        rig.enqAnswer = answer;
        // A late byte ends the second wait early; it is consumed and ignored.
        rig.port->onWrite = [&rig](const QByteArray &) {
            rig.port->feedLater(rig.enqAnswer, 10);
            rig.port->feedLater("late", 100);
        };
        EXPECT_EQ(runTask(ScriviServizio_CTM_MELSEC(rig.port, parametri)), QString());
        EXPECT_EQ(rig.port->written(), "\x05") << parametri.toStdString();
        EXPECT_EQ(rig.port->InBufferCount(), 0);
    }
}

TEST(MelsecDriver, NoAnswerToTheEnquiryEndsWithoutASecondWait)
{
    MelsecRig rig;
    rig.port->onWrite = [&rig](const QByteArray &) { rig.port->feedLater("x", 3500); };
    EXPECT_EQ(runTask(ScriviServizio_CTM_MELSEC(rig.port, QStringLiteral("1"))), QString());
    EXPECT_EQ(rig.port->written(), "\x05");
    // Had the driver waited a second time, it would have consumed this byte.
    QEventLoop loop;
    QObject::connect(rig.port.get(), &PortControl::inputChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(rig.port->InBufferCount(), 1);
}

TEST(MelsecDriver, PortErrorsPassThrough)
{
    auto closed = std::make_shared<MemoryPort>();
    try {
        runTask(ScriviServizio_CTM_MELSEC(closed, QStringLiteral("1")));
        ADD_FAILURE() << "a closed port must fail";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.kind(), ErrorKind::PortError);
    }
}
