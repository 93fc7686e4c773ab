// CTM counter, PS11 weight stream and ELAP counters against an in-memory
// port: the checks that reject replies, how many requests are made, what is
// written, and the zero commands that do not wait.
#include "DriverStream.h"
#include "RunTask.h"
#include "common/AutomationError.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"

#include <QElapsedTimer>
#include <QLocale>
#include <gtest/gtest.h>

using namespace quorvex;
using quorvex::testing::DriverStream;

namespace {

QUORVEX_DRIVER(AzzeraLunghezza_CTM_1);
QUORVEX_DRIVER(AzzeraLunghezza_ELAP_CM78);
QUORVEX_DRIVER(AzzeraLunghezza_ELAP_CM78A);
QUORVEX_DRIVER(LeggiAltezza_CTM_1);
QUORVEX_DRIVER(LeggiLunghezza_CTM_1);
QUORVEX_DRIVER(LeggiLunghezza_ELAP_CM78);
QUORVEX_DRIVER(LeggiLunghezza_ELAP_CM78A);
QUORVEX_DRIVER(LeggiPeso_CTM_PS11);
QUORVEX_DRIVER(LeggiPeso_ELAP_CM78);
QUORVEX_DRIVER(LeggiPeso_ELAP_CM78A);

class LineCounters : public ::testing::Test {
protected:
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();

    LineCounters()
    {
        port->setPortOpen(true);
        QLocale::setDefault(QLocale(QLocale::English));
    }
    ~LineCounters() override { QLocale::setDefault(QLocale(QLocale::English)); }

    // Answers the k-th request with replies[k] (the last one over and over).
    void answer(QByteArrayList replies)
    {
        port->onWrite = [this, replies, k = 0](const QByteArray &) mutable {
            port->feedLater(replies.at(qMin<qsizetype>(k++, replies.size() - 1)), 1);
        };
    }

    int errorNumber(QCoro::Task<QVariant> task)
    {
        try {
            runTask(std::move(task));
        } catch (const AutomationError &error) {
            return error.number();
        }
        return 0;
    }
};

QByteArray ctmReply(const QByteArray &digits, int spoil = 0)
{
    char check = 0;
    for (char c : digits)
        check ^= c;
    return "\x02" + digits + char(check ^ spoil) + "\r";
}

QByteArray ps11Frame(quint16 weight, int spoil = 0)
{
    QByteArray f("\x11\x01\x00", 3);
    f += char(weight >> 8);
    f += char(weight & 0xff);
    f += QByteArray(6, '\0');
    char check = 0;
    for (char c : f)
        check ^= c;
    return f + char(check ^ spoil);
}

// --- CTM counter ------------------------------------------------------------

TEST_F(LineCounters, CtmCountWithItsCheckCharacter)
{
    EXPECT_EQ(ctmReply("00123"),
              QByteArray("\x02"
                         "00123"
                         "0\r"))
        << "0x30 is the XOR of the digits";
    answer({ctmReply("00123")});
    EXPECT_EQ(runTask(LeggiLunghezza_CTM_1(port)), QVariant(123.0));
    EXPECT_EQ(port->written(), "\x02P\r");
    // Height is the same read.
    EXPECT_EQ(runTask(LeggiAltezza_CTM_1(port)), QVariant(123.0));
    answer({ctmReply("99999") + "trailing bytes"});
    EXPECT_EQ(runTask(LeggiLunghezza_CTM_1(port)), QVariant(99999.0));
}

TEST_F(LineCounters, CtmWrongCheckAsksAgainUpToTenRequests)
{
    answer({ctmReply("00042", 1), ctmReply("00042", 0x20), ctmReply("00042")});
    EXPECT_EQ(runTask(LeggiLunghezza_CTM_1(port)), QVariant(42.0));
    EXPECT_EQ(port->written(), QByteArray("\x02P\r").repeated(3));

    MemoryPort &p = *port;
    const QByteArray before = p.written();
    answer({ctmReply("00042", 1)});
    EXPECT_EQ(runTask(LeggiLunghezza_CTM_1(port)), QVariant(0.0));
    EXPECT_EQ(p.written().mid(before.size()), QByteArray("\x02P\r").repeated(10));
}

TEST_F(LineCounters, CtmCountThatIsNoNumberIsATypeMismatch)
{
    answer({ctmReply(" 1a3 ")});
    EXPECT_EQ(errorNumber(LeggiLunghezza_CTM_1(port)), 13);
    answer({ctmReply("     ")});
    EXPECT_EQ(errorNumber(LeggiAltezza_CTM_1(port)), 13);
    // Blanks around the number and a sign are accepted.
    answer({ctmReply(" -12 ")});
    EXPECT_EQ(runTask(LeggiLunghezza_CTM_1(port)), QVariant(-12.0));
}

TEST_F(LineCounters, CtmZeroWritesTheCommandAndDoesNotWait)
{
    port->feed("old answer");
    answer({"\x06\r"});
    auto task = AzzeraLunghezza_CTM_1(port);
    EXPECT_TRUE(task.isReady()) << "returns without letting the event loop run";
    EXPECT_EQ(runTask(std::move(task)), QVariant(0.0));
    EXPECT_EQ(port->written(),
              "\x02"
              "A\r");
    EXPECT_EQ(port->InBufferCount(), 0);
}

// --- PS11 -------------------------------------------------------------------

TEST_F(LineCounters, Ps11FrameGivesTheWeightAndStopsTheStream)
{
    EXPECT_EQ(ps11Frame(1234).toHex(' '), "11 01 00 04 d2 00 00 00 00 00 00 c6");
    DriverStream stream(*port, {"\x05\x07\x09" + ps11Frame(1234) + "\x01\x02\x03\x04\x05\x06"});
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(1234.0));
    EXPECT_EQ(port->written(), "\x11\x13") << "DC1 once, DC3 before the value";
}

TEST_F(LineCounters, Ps11CollectionRestartsAtEveryDc1)
{
    // Weight 0x11D2: the DC1 in its high byte starts a new frame that does
    // not check; the next attempt reads fresh bytes.
    {
        DriverStream stream(*port,
                            {ps11Frame(0x11d2) + ps11Frame(0x11d2).left(9), ps11Frame(500) + QByteArray(9, 'x')});
        EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(500.0));
        EXPECT_EQ(stream.delivered(), 2);
    }
    // A frame whose weight holds a DC1 is taken from there only when the
    // bytes from that DC1 on form a valid frame of their own.
    port = std::make_shared<MemoryPort>();
    port->setPortOpen(true);
    DriverStream stream(*port, {QByteArray("\x11\x01\x00", 3) + ps11Frame(77) + QByteArray(6, 'x')});
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(77.0));
}

TEST_F(LineCounters, Ps11BytesWithoutFrameStartAreRejectedAndFreshBytesAwaited)
{
    DriverStream stream(*port, {QByteArray(21, '\x01'), QByteArray(5, 'x') + ps11Frame(9) + QByteArray(4, 'x')});
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(9.0));
    EXPECT_EQ(port->written(), "\x11\x13") << "DC1 is written once per call, not per attempt";
}

TEST_F(LineCounters, Ps11FrameCutShortIsNotCompletedByAnOlderFrame)
{
    // The first frame has the weight's low byte D2 and a check byte C6 that
    // does not match. The second attempt ends with the first four bytes of a
    // frame for 0x04D2: with the old tail they would check, but the bytes
    // 4..11 never arrived in this frame, so it is rejected.
    QByteArray stale("\x11\x01\x00\x00\xd2\x00\x00\x00\x00\x00\x00\xc6", 12);
    DriverStream stream(*port,
                        {stale + QByteArray(9, 'x'), QByteArray(17, 'x') + QByteArray("\x11\x01\x00\x04", 4),
                         ps11Frame(257) + QByteArray(9, 'x')});
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(257.0));
}

TEST_F(LineCounters, Ps11TenRejectedFramesGiveZeroAndStillStopTheStream)
{
    DriverStream stream(*port, QByteArrayList(12, ps11Frame(600, 1) + QByteArray(9, 'x')));
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(0.0));
    EXPECT_EQ(port->discards(), 11) << "one discard before DC1, one per rejected attempt";
    EXPECT_EQ(port->written(), "\x11\x13");
}

TEST_F(LineCounters, Ps11FrameWithByteOneZeroIsRejectedEvenWhenItChecks)
{
    QByteArray zeroByteOne("\x11\x00\x00\x01\x02\x00\x00\x00\x00\x00\x00\x12", 12);
    DriverStream stream(*port, QByteArrayList(12, zeroByteOne + QByteArray(9, 'x')));
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(0.0));
    EXPECT_EQ(port->discards(), 11);
}

TEST_F(LineCounters, Ps11SilentStreamGivesZeroAfterTheTimeOutAndStillStopsIt)
{
    QElapsedTimer clock;
    clock.start();
    port->feedLater(ps11Frame(5), 20); // 12 bytes: fewer than the 21 awaited
    EXPECT_EQ(runTask(LeggiPeso_CTM_PS11(port)), QVariant(0.0));
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_EQ(port->written(), "\x11\x13");
}

TEST_F(LineCounters, Ps11ClosedPortEndsWithThePortErrorAndWritesNothing)
{
    port->setPortOpen(false);
    EXPECT_THROW(runTask(LeggiPeso_CTM_PS11(port)), AutomationError);
    EXPECT_TRUE(port->written().isEmpty());
}

// --- ELAP -------------------------------------------------------------------

TEST_F(LineCounters, ElapFieldsUnderItalianAndEnglishLocales)
{
    for (auto language : {QLocale::Italian, QLocale::English}) {
        QLocale::setDefault(QLocale(language));
        answer({"@r01 =0012.345 m\r\n"});
        EXPECT_DOUBLE_EQ(runTask(LeggiLunghezza_ELAP_CM78(port)).toDouble(), 12.345) << language;
        EXPECT_DOUBLE_EQ(runTask(LeggiPeso_ELAP_CM78(port)).toDouble(), 12.345) << language;
        answer({"@@123.456 m\r\n"});
        EXPECT_DOUBLE_EQ(runTask(LeggiLunghezza_ELAP_CM78A(port)).toDouble(), 123.456) << language;
        EXPECT_DOUBLE_EQ(runTask(LeggiPeso_ELAP_CM78A(port)).toDouble(), 123.456) << language;
    }
    EXPECT_EQ(port->written(), QByteArray("@r01\r").repeated(8)) << "one request per read";
}

TEST_F(LineCounters, ElapFieldThatIsNoNumberIsATypeMismatch)
{
    answer({"@r01 =         m\r\n"});
    EXPECT_EQ(errorNumber(LeggiLunghezza_ELAP_CM78(port)), 13);
    answer({"@=12a.456 m\r\n"});
    EXPECT_EQ(errorNumber(LeggiPeso_ELAP_CM78A(port)), 13);
}

TEST_F(LineCounters, ElapZeroCommandsDoNotWait)
{
    for (auto driver : {AzzeraLunghezza_ELAP_CM78, AzzeraLunghezza_ELAP_CM78A}) {
        port->feed("@r01 =0012.345 m\r\n");
        auto task = driver(port);
        EXPECT_TRUE(task.isReady());
        EXPECT_EQ(runTask(std::move(task)), QVariant(0.0));
        EXPECT_EQ(port->InBufferCount(), 0);
    }
    EXPECT_EQ(port->written(), "@R01\r@R01\r");
}

} // namespace
