// Continuous scale drivers against an in-memory port: where the field is
// cut relative to the marker, the decimal handling of each model, and what
// comes back after silence or ten windows without a marker.
#include "DriverStream.h"
#include "RunTask.h"
#include "common/AutomationError.h"
#include "support/Drivers.h"
#include "support/MemoryPort.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QLocale>
#include <gtest/gtest.h>

using namespace quorvex;
using quorvex::testing::DriverStream;

namespace {

QUORVEX_DRIVER(LeggiPeso_EUROBIL_FLYTN);
QUORVEX_DRIVER(LeggiPeso_PAVONE_MC100);
QUORVEX_DRIVER(LeggiPeso_BMC_507);
QUORVEX_DRIVER(LeggiPeso_ALFABILICI_807);

class ContinuousScales : public ::testing::Test {
protected:
    std::shared_ptr<MemoryPort> port = std::make_shared<MemoryPort>();

    ContinuousScales()
    {
        port->setPortOpen(true);
        QLocale::setDefault(QLocale(QLocale::English));
    }
    ~ContinuousScales() override { QLocale::setDefault(QLocale(QLocale::English)); }

    QVariant read(const quorvex::testing::Driver &driver, QByteArrayList chunks)
    {
        DriverStream stream(*port, std::move(chunks));
        return runTask(driver(port));
    }
};

QByteArray repeated(const QByteArray &bytes, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += bytes;
    return out;
}

TEST_F(ContinuousScales, FieldStandsAtTheModelsDistanceFromTheFirstMarker)
{
    // FLYTN: CR first, one character skipped, field is characters 3 to 8.
    EXPECT_DOUBLE_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"\r\n 12.50 kg "}).toDouble(), 12.5);
    // FLYTN with the CR at the last searched position: the field lies wholly
    // beyond the window, in what else was read.
    EXPECT_DOUBLE_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"xxxxxxxxxxx\r\n 34.75 kg "}).toDouble(), 34.75);
    // BMC 507 with "$" at 5 and 30: the first one counts, field is 7..12.
    QByteArray bmc = "abcd$G 12.50" + QByteArray(17, ' ') + "$G 99.99" + QByteArray(6, ' ');
    ASSERT_EQ(bmc.size(), 43);
    const QVariant v = read(LeggiPeso_BMC_507, {bmc});
    EXPECT_EQ(v.typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(v.toDouble(), 12.5);
    // ALFABILICI 807: the field follows the "$" at once and is 7 long.
    EXPECT_DOUBLE_EQ(read(LeggiPeso_ALFABILICI_807, {"$ 123.45" + QByteArray(35, '-')}).toDouble(), 123.45);
    // A "$" beyond position 43 is not looked at.
    EXPECT_EQ(read(LeggiPeso_ALFABILICI_807, QByteArrayList(10, QByteArray(43, '-') + "$ 123.45")),
              QVariant::fromValue(qint16(0)));
}

TEST_F(ContinuousScales, FieldCutByTheEndOfTheTextIsCompletedFromWhatFollows)
{
    // "$" at position 43 of a 43-character read: the field has not been sent
    // yet. The driver waits for it instead of converting an empty field.
    port->feedLater(" 678.90 kg\r\n", 50);
    EXPECT_DOUBLE_EQ(read(LeggiPeso_ALFABILICI_807, {QByteArray(42, '-') + "$"}).toDouble(), 678.9);
    // FLYTN CR at 11 with 13 characters read: one field character present,
    // the other five follow; the number is not taken from the first digit.
    port->feedLater("2.50 kg ", 50);
    EXPECT_DOUBLE_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"xxxxxxxxxx\r\n1"}).toDouble(), 12.5);
}

TEST_F(ContinuousScales, FieldCutAndScaleSilentGivesTheTimeOutResult)
{
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"xxxxxxxxxx\r\n1"}), QVariant(0.0));
    EXPECT_GE(clock.elapsed(), 2000);
}

TEST_F(ContinuousScales, DecimalPointIsReadAlikeUnderItalianAndEnglishLocales)
{
    for (auto language : {QLocale::Italian, QLocale::English}) {
        QLocale::setDefault(QLocale(language));
        EXPECT_DOUBLE_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"\r\n-12.50 kg "}).toDouble(), -12.5) << language;
        EXPECT_DOUBLE_EQ(read(LeggiPeso_BMC_507, {repeated("$G  0.75 kg    \r\n", 3)}).toDouble(), 0.75) << language;
        // MC100 deletes the point rather than reading it.
        EXPECT_DOUBLE_EQ(read(LeggiPeso_PAVONE_MC100, {repeated("\x02ST,GS, 012.50kg\r\n", 3)}).toDouble(), 1250)
            << language;
        EXPECT_DOUBLE_EQ(read(LeggiPeso_PAVONE_MC100, {repeated("\x02ST,GS,   1250kg\r\n", 3)}).toDouble(), 1250)
            << language;
    }
}

TEST_F(ContinuousScales, TenWindowsWithoutMarkerGiveZeroOfTheModelsType)
{
    const QByteArrayList noMarker(12, QByteArray(43, ' '));
    {
        DriverStream stream(*port, noMarker);
        const int before = port->discards();
        EXPECT_EQ(runTask(LeggiPeso_EUROBIL_FLYTN(port)), QVariant(0.0));
        // Each window discards before it waits and again after finding no
        // marker: exactly ten windows make twenty discards.
        EXPECT_EQ(port->discards() - before, 20) << "exactly ten windows";
    }
    const QVariant v = read(LeggiPeso_BMC_507, noMarker);
    EXPECT_EQ(v.typeId(), QMetaType::Short);
    EXPECT_EQ(v.toInt(), 0);
    // A marker in the tenth window still counts.
    QByteArrayList late(9, QByteArray(43, ' '));
    late << "$ 4.25  " + QByteArray(35, ' ');
    EXPECT_DOUBLE_EQ(read(LeggiPeso_ALFABILICI_807, late).toDouble(), 4.25);
}

TEST_F(ContinuousScales, SilenceEndsTheReadInTheWindowWhereItHappens)
{
    // Two windows without a marker, then nothing: 0, no fourth window.
    QElapsedTimer clock;
    clock.start();
    DriverStream stream(*port, {QByteArray(12, ' '), QByteArray(12, ' ')});
    EXPECT_EQ(runTask(LeggiPeso_EUROBIL_FLYTN(port)), QVariant(0.0));
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_EQ(port->discards(), 5) << "three windows opened, two ended without a marker";
    EXPECT_TRUE(port->written().isEmpty()) << "a continuous scale is never written to";
}

TEST_F(ContinuousScales, FieldThatDoesNotConvertIsATypeMismatch)
{
    const auto mismatch = [this](const quorvex::testing::Driver &driver, QByteArray text) {
        try {
            read(driver, {text});
            ADD_FAILURE() << "no error for " << text.constData();
        } catch (const AutomationError &error) {
            EXPECT_EQ(error.number(), 13) << text.constData();
        }
    };
    mismatch(LeggiPeso_EUROBIL_FLYTN, "\r\n ab.cd kg ");
    mismatch(LeggiPeso_EUROBIL_FLYTN, "\r\n       kg ");
    mismatch(LeggiPeso_BMC_507, "$G 1x.50" + QByteArray(35, ' '));
    mismatch(LeggiPeso_PAVONE_MC100, "\x02ST,GS, ......" + QByteArray(24, ' '));
}

TEST_F(ContinuousScales, ReadsDoNotDependOnThePortsInputMode)
{
    port->setInputMode(PortControl::Binary);
    EXPECT_DOUBLE_EQ(read(LeggiPeso_EUROBIL_FLYTN, {"\r\n 12.50 kg "}).toDouble(), 12.5);
    EXPECT_DOUBLE_EQ(read(LeggiPeso_BMC_507, {"$G 12.50" + QByteArray(35, ' ')}).toDouble(), 12.5);
}

TEST_F(ContinuousScales, ClosedPortEndsTheReadWithThePortError)
{
    port->setPortOpen(false);
    EXPECT_THROW(runTask(LeggiPeso_PAVONE_MC100(port)), AutomationError);
}

} // namespace
