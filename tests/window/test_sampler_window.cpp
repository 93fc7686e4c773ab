// The sampler window on the offscreen platform: layout, keys, the sample
// list, closing, and the placement kept in the settings store.
#include "line/SettingsStore.h"
#include "tracking/Sampler.h"
#include "ui/sampler/FormSamples.h"
#include "ui/sampler/Placement.h"

#include <QLabel>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

using namespace quorvex;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

class SamplerWindow : public ::testing::Test {
protected:
    QTemporaryDir dir;
    double length = 0;
    Sampler sampler{[this]() -> QCoro::Task<double> { co_return length; },
                    []() -> QCoro::Task<double> { co_return 5.1; }};

    SamplerWindow()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QLocale::setDefault(QLocale(QLocale::Italian));
    }
    ~SamplerWindow() override { QLocale::setDefault(QLocale(QLocale::English)); }

    static QString stored(const char *key)
    {
        return SettingsStore().value(QStringLiteral("FormSamples"), QLatin1String(key)).value_or(QStringLiteral("-"));
    }
    static void store(const char *group, const char *key, const QString &text)
    {
        SettingsStore().setValue(QLatin1String(group), QLatin1String(key), text);
    }
    static QLabel *label(QWidget &w, const char *name) { return w.findChild<QLabel *>(QLatin1String(name)); }
};

} // namespace

TEST_F(SamplerWindow, LoadLinesUpTheValuesAndResizeFillsTheWidth)
{
    store("Contametri", "Marca", QStringLiteral("CTM"));
    store("Contametri", "Modello", QStringLiteral("1"));
    store("Bilancia", "Marca", QStringLiteral("BILANCIAI"));
    FormSamples form(sampler);
    EXPECT_EQ(label(form, "Lbls1")->text(), QStringLiteral("CTM\n1"));
    EXPECT_EQ(label(form, "Lbls5")->text(), QStringLiteral("BILANCIAI\n"));
    EXPECT_EQ(label(form, "Lbls3")->width() * 15, 1335);
    form.resize(7395 / 15, 4530 / 15);
    for (const char *name : {"LblLunghezza", "LblAltezza", "LblPeso"}) {
        QLabel *value = label(form, name);
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(value->x() * 15, 1695) << name;
        EXPECT_EQ(value->width() * 15, 5460) << name;
        EXPECT_EQ(value->text(), QStringLiteral("0 "));
        EXPECT_FALSE(value->accessibleName().isEmpty());
    }
    EXPECT_TRUE(sampler.isRunning());

    // A tick shows the values and the sample count.
    length = 1234567.25; // the locale's separator, no grouping
    QTest::qWait(120);
    EXPECT_EQ(label(form, "LblLunghezza")->text(), QStringLiteral("1234567,25 "));
    EXPECT_EQ(label(form, "LblAltezza")->text(), QStringLiteral("5,1 "));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Campionature Altezza/Lunghezza: (1)"));
}

TEST_F(SamplerWindow, KeysResizeMoveAndToggleTheList)
{
    FormSamples form(sampler);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // Shift wins over Alt; Ctrl makes the step 5 pixels.
    const QRect start = form.frameGeometry();
    QTest::keyClick(&form, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&form, Qt::Key_Right, Qt::ShiftModifier | Qt::AltModifier);
    QTest::keyClick(&form, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(&form, Qt::Key_Left, Qt::AltModifier | Qt::ControlModifier);
    QTest::keyClick(&form, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(form.frameGeometry(), QRect(start.left() - 5, start.top() + 1, start.width() + 6, start.height() - 1));

    sampler.SwitchTimer(); // the buffer stays as set below
    for (auto [p, h] : {std::pair{3.0, 5.1}, {3.2, 5.2}, {3.4, 5.3}})
        sampler.campioni().append({p, h});
    auto *list = form.findChild<QListWidget *>(QStringLiteral("LstSamples"));
    QTest::keyClick(&form, Qt::Key_L, Qt::ShiftModifier); // not a toggle
    EXPECT_TRUE(list->isHidden());
    QTest::keyClick(&form, Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->geometry(), form.rect());
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("3 -> 5,1"));
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("3,4 -> 5,3"));
    // A snapshot: a new sample does not appear until the next showing. Keys
    // reach the window even with the list focused.
    sampler.campioni().append({3.6, 5.4});
    list->setFocus();
    EXPECT_EQ(list->count(), 3);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_TRUE(list->isHidden());
    QTest::keyClick(list, Qt::Key_C);
    EXPECT_EQ(list->count(), 4);
}

TEST_F(SamplerWindow, TheUsersCloseSavesAndHidesACloseFromCodeIsRefused)
{
    FormSamples form(sampler);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.move(30, 40);
    const QRect outer = form.frameGeometry();
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(stored("Left"), QStringLiteral("-"));

    // The window system's close request.
    QCloseEvent request;
    QSpontaneKeyEvent::setSpontaneous(&request);
    QCoreApplication::sendEvent(form.windowHandle(), &request);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(stored("WindowState"), QStringLiteral("0"));
    EXPECT_EQ(stored("Left"), QStringLiteral("450"));
    EXPECT_EQ(stored("Top"), QStringLiteral("600"));
    EXPECT_EQ(stored("Width"), QString::number(outer.width() * 15));
    EXPECT_EQ(stored("Height"), QString::number(outer.height() * 15));
    EXPECT_TRUE(sampler.isRunning());
    form.ShowSampler(true);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(30, 40));
}

TEST_F(SamplerWindow, PlacementSkipsAValueThatIsNotANumber)
{
    store("FormSamples", "Width", QStringLiteral("largo"));
    store("FormSamples", "Height", QStringLiteral("3000"));
    store("FormSamples", "Left", QStringLiteral("1500,4"));
    store("FormSamples", "Top", QStringLiteral("-750"));
    store("FormSamples", "WindowState", QStringLiteral("0"));
    FormSamples form(sampler);
    // Outer sizes; the width keeps the design client width of 493 pixels.
    const QRect outer = form.frameGeometry();
    EXPECT_EQ(form.width(), 493);
    EXPECT_EQ(outer.height(), 200);
    EXPECT_EQ(outer.topLeft(), QPoint(100, -50));
}

TEST_F(SamplerWindow, AMaximisedWindowKeepsItsNormalRectangle)
{
    QRect outer;
    {
        FormSamples form(sampler);
        form.setGeometry(60, 70, 400, 250);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        outer = form.frameGeometry();
        form.showMaximized();
        QTest::qWait(20);
        ASSERT_TRUE(form.isMaximized());
        form.unload();
    }
    EXPECT_EQ(stored("WindowState"), QStringLiteral("2"));
    EXPECT_EQ(stored("Width"), QString::number(outer.width() * 15));
    EXPECT_EQ(stored("Height"), QString::number(outer.height() * 15));
    EXPECT_EQ(stored("Left"), QString::number(outer.left() * 15));

    FormSamples again(sampler);
    again.ShowSampler(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_TRUE(again.isMaximized());
    again.showNormal();
    QTest::qWait(20);
    EXPECT_EQ(again.geometry(), QRect(60, 70, 400, 250));
}
