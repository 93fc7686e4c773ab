// RLC controller end to end: length and weight from one status reply, the
// checksum retries, the zero command and a silent controller.
#include "tests/e2e/Harness.h"

#include "sim/instruments/Rlc1.h"

#include <QElapsedTimer>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

class Rlc : public ServerTest {
protected:
    sim::Handle<sim::Rlc1> rlc = sim::launch<sim::Rlc1>();

    void SetUp() override
    {
        mapPort(5, rlc->slavePath());
        rlc->setLength(0x4D2);
        rlc->setWeight(0x64);
    }
};

TEST_F(Rlc, LengthAndWeightUnderBothLocalesWithDivisore)
{
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        const bool italian = QByteArray(locale).startsWith("it");
        configureRole("Contametri", "RLC", "1", 5, italian ? "0,5" : "0.5");
        configureRole("Bilancia", "RLC", "1", 5, italian ? "2,5" : "2.5");
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 62) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 27.5) << locale;
        // Directly: the unscaled readings of "(000004D2000000640084)".
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_RLC_1", {QStringLiteral("5")}), 124) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_RLC_1", {QStringLiteral("5")}), 11) << locale;
        stopServer();
    }
}

TEST_F(Rlc, PacedSplitLowerCaseRepliesWithWrongChecksumsFirst)
{
    rlc->setPacing(9600);
    rlc->setChunking(5, 10ms);
    rlc->setLowerCase(true);
    rlc->setBadChecksums(3);
    configureRole("Contametri", "RLC", "1", 5);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_RLC_1", {QStringLiteral("5")}), 124);
    EXPECT_EQ(rlc->statusRequests(), 4) << "three rejected replies, then the good one";
}

TEST_F(Rlc, NoiseBeforeTheParenthesisIsSkipped)
{
    // Noise and reply in one transmission, so the whole of it is read.
    rlc->setNoise("\r\n#01");
    configureRole("Bilancia", "RLC", "1", 5);
    startServer("it_IT.UTF-8");
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 11);
    EXPECT_EQ(rlc->statusRequests(), 1);
}

TEST_F(Rlc, TenWrongChecksumsGiveZeroWithoutError)
{
    rlc->setChecksumText("85");
    configureRole("Contametri", "RLC", "1", 5);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_RLC_1", {QStringLiteral("5")}), 0);
    EXPECT_EQ(rlc->statusRequests(), 10);
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
}

TEST_F(Rlc, ReplyErrorsReachOnlyDirectCallers)
{
    configureRole("Contametri", "RLC", "1", 5);
    configureRole("Bilancia", "RLC", "1", 5);
    startServer();
    // A length of 7FFFFFF7 or more overflows.
    rlc->setLength(0x7FFFFFF7);
    auto [name, message] = callError("LeggiLunghezza_RLC_1", {QStringLiteral("5")});
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.Overflow");
    EXPECT_TRUE(message.startsWith("6: ")) << message.toStdString();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 11) << "the weight field is still fine";

    // A "(" so late that fewer than 18 characters follow it.
    rlc->setRawReply("0123456789(000004D2000");
    std::tie(name, message) = callError("LeggiPeso_RLC_1", {QStringLiteral("5")});
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.InvalidArgument");
    EXPECT_TRUE(message.startsWith("5: ")) << message.toStdString();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 0);

    // Checksum characters that are not hexadecimal.
    rlc->setRawReply(std::nullopt);
    rlc->setChecksumText("G4");
    std::tie(name, message) = callError("LeggiPeso_RLC_1", {QStringLiteral("5")});
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.TypeMismatch");
}

TEST_F(Rlc, ZeroCommandZeroesTheCounter)
{
    configureRole("Contametri", "RLC", "1", 5);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_RLC_1", {QStringLiteral("5")}), 0);
    EXPECT_EQ(rlc->zeroCommands(), 1);
    EXPECT_EQ(rlc->received(), "<0262>");
    // A zeroed count of 0 reads as 1: (0 + 9) / 10 rounded.
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 1);
}

// The one slow case: each call waits the full 20 s.
TEST_F(Rlc, SilentControllerIsAnErrorDirectlyAndZeroGenerically)
{
    rlc->setSilent(true);
    configureRole("Contametri", "RLC", "1", 5);
    startServer();
    QElapsedTimer clock;
    clock.start();
    const auto [name, message] = callError("LeggiLunghezza_RLC_1", {QStringLiteral("5")});
    EXPECT_GT(clock.elapsed(), 19500);
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.TypeMismatch");
    EXPECT_TRUE(message.startsWith("13: ")) << message.toStdString();
    EXPECT_EQ(rlc->statusRequests(), 1) << "no further attempt after a time-out";

    clock.restart();
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 0);
    EXPECT_GT(clock.elapsed(), 19500);
}

} // namespace
