// COMAR PROFACE end to end: binary weight and length readings, the zero
// command, short replies and silence.
#include "tests/e2e/Harness.h"

#include "sim/instruments/Proface.h"

#include <QElapsedTimer>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

class ProfaceTest : public ServerTest {
protected:
    sim::Handle<sim::Proface> proface = sim::launch<sim::Proface>();

    void SetUp() override { mapPort(6, proface->slavePath()); }
};

TEST_F(ProfaceTest, WeightAndLengthUnderBothLocalesWithDivisore)
{
    proface->setWeight(1234);
    proface->setLength(0xFFFF);
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        const bool italian = QByteArray(locale).startsWith("it");
        configureRole("Bilancia", "COMAR", "PROFACE", 6, italian ? "0,01" : "0.01");
        configureRole("Contametri", "COMAR", "PROFACE", 6, italian ? "0,5" : "0.5");
        startServer(QString::fromLatin1(locale));
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 12.34) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 32767.5) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_COMAR_PROFACE", {QStringLiteral("6")}), 1234) << locale;
        EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza_COMAR_PROFACE", {QStringLiteral("6")}), 65535) << locale;
        stopServer();
    }
}

TEST_F(ProfaceTest, OtherBytesLongerAndPacedSplitRepliesDoNotMatter)
{
    proface->setWeight(0x04D2);
    proface->setHeader(std::string("\x80\xFF\r\n(\x05", 6));
    proface->setReplyLength(14);
    configureRole("Bilancia", "COMAR", "PROFACE", 6);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_COMAR_PROFACE", {QStringLiteral("6")}), 1234);
    // A reply in pieces at 9600 baud is read once its 9th byte is in.
    proface->setReplyLength(0);
    proface->setPacing(9600);
    proface->setChunking(2, 5ms);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 1234);
}

TEST_F(ProfaceTest, ZeroCommandReachesTheInstrumentAndReadingsSwitchBackToBinary)
{
    proface->setLength(500);
    configureRole("Contametri", "COMAR", "PROFACE", 6);
    startServer();
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_COMAR_PROFACE", {QStringLiteral("6")}), 0);
    EXPECT_EQ(proface->zeroCommands(), 1);
    EXPECT_EQ(proface->received(), "@3\r");
    // The zero left the port in text mode; the next reading is binary again.
    proface->setLength(0x8001);
    EXPECT_DOUBLE_EQ(callDouble("LeggiLunghezza"), 32769);
}

TEST_F(ProfaceTest, ShortReplyOrSilenceGivesZeroAndLeftoversAreDiscarded)
{
    proface->setWeight(77);
    proface->setReplyLength(8);
    configureRole("Bilancia", "COMAR", "PROFACE", 6);
    startServer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso_COMAR_PROFACE", {QStringLiteral("6")}), 0);
    EXPECT_GT(clock.elapsed(), 1900);
    // The 8 bytes left behind must not complete the next reply.
    proface->setReplyLength(0);
    proface->setWeight(78);
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 78);
    // The zero command waits for its answer as long, then gives 0 anyway.
    proface->setSilent(true);
    clock.restart();
    EXPECT_DOUBLE_EQ(callDouble("AzzeraLunghezza_COMAR_PROFACE", {QStringLiteral("6")}), 0);
    EXPECT_GT(clock.elapsed(), 1900);
    EXPECT_EQ(proface->zeroCommands(), 1) << "the command reached the instrument";
}

} // namespace
