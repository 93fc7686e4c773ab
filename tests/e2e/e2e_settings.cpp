// The settings dialog end to end: clients open it over D-Bus, the operator
// edits it with the keyboard, and the readings clients get follow the new
// configuration without a restart. The dialog lives in the server process,
// so the server's parts run here, where QTest can reach the window; the
// instruments are simulators on ptys and every client call travels over the
// private session bus from a connection of its own, asynchronously, so this
// thread keeps serving the server side and the dialog while a call waits.
#include "tests/e2e/Harness.h"

#include "api/BusNames.h"
#include "api/DbusBinding.h"
#include "app/HeightTracking.h"
#include "app/ServerWindows.h"
#include "app/Startup.h"
#include "history/CoilStore.h"
#include "line/Line.h"
#include "sim/instruments/D400.h"
#include "ui/settings/FormDevices.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusPendingCall>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

// The server as runServer puts it together, on this process's session bus
// connection.
struct InProcessServer {
    quorvex::Line line;
    quorvex::CoilStore coils;
    quorvex::HeightTracking tracking{line, coils};
    quorvex::ServerWindows windows{line, tracking, &coils};
    const quorvex::GlobalServices services = quorvex::serverServices(tracking, windows, nullptr);
    quorvex::DbusBinding binding{line, QDBusConnection::sessionBus(), &services};

    InProcessServer()
    {
        EXPECT_TRUE(binding.registerObject());
        EXPECT_TRUE(QDBusConnection::sessionBus().registerService(QLatin1String(quorvex::kServiceName)));
        line.CaricaDispositivi();
    }
    ~InProcessServer()
    {
        QDBusConnection::sessionBus().unregisterService(QLatin1String(quorvex::kServiceName));
        QDBusConnection::sessionBus().unregisterObject(QLatin1String(quorvex::kObjectPath));
    }
};

// A key as the operator presses it: to whatever has the focus.
void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget();
    QTest::keyClick(target ? target : QApplication::activeWindow(), key, mods);
}

// Replaces the text of the focused box by typing.
void typeText(const QString &text)
{
    press(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), text);
}

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

// Presses Alt+key until the control called name has the focus: a key two
// labels share goes from one box to the other.
bool accessKeyTo(Qt::Key key, const QString &name)
{
    for (int i = 0; i < 3; ++i) {
        press(key, Qt::AltModifier);
        if (focusName() == name)
            return true;
    }
    return false;
}

// Presses Tab until the control called name has the focus.
bool tabTo(const QString &name)
{
    for (int i = 0; i < 40 && focusName() != name; ++i)
        press(Qt::Key_Tab);
    return focusName() == name;
}

// The line settings a pty's slave side has now.
termios lineOf(const std::string &path)
{
    termios tio{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) {
        ::tcgetattr(fd, &tio);
        ::close(fd);
    }
    return tio;
}

class SettingsDialog : public ServerTest {
protected:
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::D400> other = sim::launch<sim::D400>();
    std::unique_ptr<InProcessServer> server;
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));

    void SetUp() override
    {
        // The store of this test, for the dialog and the line in this process.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome());
        scale->setWeightField("   12,500");
        other->setWeightField("    7,000");
        mapPort(3, scale->slavePath());
        configureRole("Bilancia", "BILANCIAI", "D400", 3);
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        server.reset();
        // A box of the load's warnings outlives its dialog, as the operator
        // has not closed it: it must not take the next test's keyboard.
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox *>(window))
                window->close();
        }
    }

    void startInProcess() { server = std::make_unique<InProcessServer>(); }

    QDBusPendingCall send(const QString &method, const QVariantList &args = {})
    {
        return asyncCall(client, method, args, 30000);
    }
    // A call and its answer, the event loop running meanwhile.
    QDBusMessage ask(const QString &method, const QVariantList &args = {})
    {
        QDBusPendingCall call = send(method, args);
        EXPECT_TRUE(waitUntil([&] { return call.isFinished(); }, 30000)) << method.toStdString();
        return call.reply();
    }
    double weight()
    {
        const QDBusMessage reply = ask(QStringLiteral("LeggiPeso"));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toDouble();
    }

    // ShowSettings from the client; the dialog it opened, active.
    QPointer<quorvex::FormDevices> openDialog()
    {
        QDBusPendingCall call = send(QStringLiteral("ShowSettings"));
        EXPECT_TRUE(waitUntil([&] { return call.isFinished(); }, 5000));
        EXPECT_EQ(call.reply().type(), QDBusMessage::ReplyMessage) << call.reply().errorMessage().toStdString();
        QPointer<quorvex::FormDevices> dialog = server->windows.settings();
        EXPECT_TRUE(dialog && QTest::qWaitForWindowActive(dialog));
        return dialog;
    }
    static void selectTab(quorvex::FormDevices *dialog, int index)
    {
        auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("TabDevices"));
        for (int i = 0; i < tabs->count() && tabs->currentIndex() != index; ++i)
            press(Qt::Key_Tab, Qt::ControlModifier);
        ASSERT_EQ(tabs->currentIndex(), index);
    }
    bool closed(const QPointer<quorvex::FormDevices> &dialog)
    {
        return waitUntil([&] { return dialog.isNull() && !server->windows.settings(); }, 5000);
    }
};

TEST_F(SettingsDialog, ShowSettingsAnswersAtOnceAndClientsAreServedWhileItIsOpen)
{
    startInProcess();
    EXPECT_DOUBLE_EQ(weight(), 12.5);
    const int holdsBefore = quorvex::KeepAlive::process().count();

    // The answer comes while the dialog is still open: it does not wait for
    // the operator.
    QDBusPendingCall call = send(QStringLiteral("ShowSettings"));
    ASSERT_TRUE(waitUntil([&] { return call.isFinished(); }, 5000));
    QPointer<quorvex::FormDevices> dialog = server->windows.settings();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog)) << "the dialog did not get the focus";
    EXPECT_EQ(quorvex::KeepAlive::process().count(), holdsBefore + 1) << "an open dialog must keep the process";

    // The operator types while a client reads.
    press(Qt::Key_M, Qt::AltModifier);
    typeText(QStringLiteral("in corso"));
    scale->setWeightField("   13,000");
    EXPECT_DOUBLE_EQ(weight(), 13);

    press(Qt::Key_Escape);
    ASSERT_TRUE(closed(dialog));
    EXPECT_EQ(quorvex::KeepAlive::process().count(), holdsBefore);
    EXPECT_DOUBLE_EQ(weight(), 13) << "Esc changed the running configuration";
}

TEST_F(SettingsDialog, OkMovesTheScaleToAnotherPortWithNewLineSettingsWhileAReadingIsInFlight)
{
    mapPort(4, other->slavePath());
    startInProcess();
    EXPECT_DOUBLE_EQ(weight(), 12.5);

    QPointer<quorvex::FormDevices> dialog = openDialog();
    ASSERT_TRUE(dialog);
    press(Qt::Key_P, Qt::AltModifier);
    ASSERT_EQ(focusName(), QStringLiteral("TxtBilanciaPorta"));
    typeText(QStringLiteral("4"));
    press(Qt::Key_S, Qt::AltModifier);
    ASSERT_EQ(focusName(), QStringLiteral("TxtBilanciaSettaggio"));
    // A pty keeps the speed and the stop bits it is given, not parity or
    // data bits.
    typeText(QStringLiteral("19200,N,8,2"));

    // OK while a client waits on the old scale: that reading still ends.
    scale->setReplyDelay(800ms);
    scale->clearReceived();
    QDBusPendingCall inFlight = send(QStringLiteral("LeggiPeso"));
    ASSERT_TRUE(waitUntil([&] { return scale->received().size() >= 3; }, 2000));
    press(Qt::Key_Return);
    ASSERT_TRUE(closed(dialog));
    ASSERT_TRUE(waitUntil([&] { return inFlight.isFinished(); }, 10000));
    EXPECT_EQ(inFlight.reply().type(), QDBusMessage::ReplyMessage) << inFlight.reply().errorMessage().toStdString();

    // The same server now reads the other scale, on the new line settings.
    other->clearReceived();
    scale->clearReceived();
    EXPECT_DOUBLE_EQ(weight(), 7);
    EXPECT_EQ(other->received(), "XB\r");
    EXPECT_TRUE(scale->received().empty()) << "the old port is still read";
    const termios tio = lineOf(other->slavePath());
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
}

TEST_F(SettingsDialog, ACommentedFileKeepsEveryOtherLineAfterOkAndTheSamplersPlacement)
{
    // The shipped example, its scale on the simulator and height tracking
    // on (so the sampler is loaded and its placement saved).
    const QString path = configHome() + "/Velkaro s.r.l./Quorvex.ini";
    QFile::remove(path);
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEX_SOURCE_DIR "/data/Quorvex.ini.example"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    mapPort(1, scale->slavePath());
    setSetting("Altezza", "MisuraMedia", "1");
    const auto lines = [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split('\n');
    };
    const QStringList before = lines();
    ASSERT_TRUE(before.contains("Settaggio=\"9600,N,8,1\"")) << "the example has changed";

    startInProcess();
    EXPECT_DOUBLE_EQ(weight(), 12.5);
    QPointer<quorvex::FormDevices> dialog = openDialog();
    ASSERT_TRUE(dialog);
    press(Qt::Key_S, Qt::AltModifier);
    ASSERT_EQ(focusName(), QStringLiteral("TxtBilanciaSettaggio"));
    typeText(QStringLiteral("9600,N,8,2"));
    press(Qt::Key_Return);
    ASSERT_TRUE(closed(dialog));
    EXPECT_DOUBLE_EQ(weight(), 12.5);
    server->windows.unload();

    // Every line but the changed one is there, in its order, as written.
    QStringList after = lines();
    const qsizetype changed = before.indexOf("Settaggio=\"9600,N,8,1\"");
    EXPECT_EQ(after.value(changed), "Settaggio=\"9600,N,8,2\"");
    QStringList kept = before;
    kept.removeAt(changed);
    after.removeAt(changed);
    qsizetype found = 0;
    for (const QString &line : std::as_const(after))
        if (found < kept.size() && line == kept[found])
            ++found;
    EXPECT_EQ(found, kept.size()) << "lost or moved: " << kept.value(found).toStdString() << "\n"
                                  << after.join('\n').toStdString();
    EXPECT_TRUE(after.join('\n').contains(QRegularExpression("\\[FormSamples\\]|Left="))) << "no placement saved";
}

TEST_F(SettingsDialog, ThePortsTabPointsThePortNumberAtAnotherDeviceAndTheReadingFollows)
{
    startInProcess();
    EXPECT_DOUBLE_EQ(weight(), 12.5);

    QPointer<quorvex::FormDevices> dialog = openDialog();
    ASSERT_TRUE(dialog);
    selectTab(dialog, 5);
    ASSERT_TRUE(tabTo(QStringLiteral("CboPorta3")));
    auto *box = dialog->findChild<QComboBox *>(QStringLiteral("CboPorta3"));
    EXPECT_EQ(box->currentText().toStdString(), scale->slavePath());
    typeText(QString::fromStdString(other->slavePath()));
    press(Qt::Key_Return);
    ASSERT_TRUE(closed(dialog));

    EXPECT_DOUBLE_EQ(weight(), 7) << "port 3 still reads the device it had before";
}

TEST_F(SettingsDialog, KeyboardAloneReachesEveryFieldAndButton)
{
    setSetting(QStringLiteral("Altezza"), QStringLiteral("MisuraMedia"), QStringLiteral("1"));
    startInProcess();
    QPointer<quorvex::FormDevices> dialog = openDialog();
    ASSERT_TRUE(dialog);
    auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("TabDevices"));
    const QSet<QString> buttons{QStringLiteral("CmdActionCAMP"), QStringLiteral("CmdActionCANCEL"),
                                QStringLiteral("CmdActionOK")};

    QSet<QString> reached;
    for (int index = 0; index < tabs->count(); ++index) {
        selectTab(dialog, index);
        QWidget *page = tabs->widget(index);
        // Every field on the page.
        QSet<QString> fields;
        for (QWidget *w : page->findChildren<QWidget *>()) {
            if ((qobject_cast<QLineEdit *>(w) && !qobject_cast<QComboBox *>(w->parentWidget()))
                || qobject_cast<QCheckBox *>(w) || qobject_cast<QComboBox *>(w))
                fields << w->objectName();
        }
        ASSERT_FALSE(fields.isEmpty()) << "tab " << index;

        // Tab goes round the page's fields and the buttons.
        QSet<QString> byTab;
        for (int step = 0; step < 2 * (fields.size() + buttons.size() + 1); ++step) {
            byTab << focusName();
            press(Qt::Key_Tab);
            ASSERT_EQ(tabs->currentIndex(), index) << "Tab left the page";
        }
        for (const QString &name : fields + buttons)
            EXPECT_TRUE(byTab.contains(name)) << "Tab never reaches " << name.toStdString();

        // Each label's access key reaches its box.
        for (QLabel *label : page->findChildren<QLabel *>()) {
            if (!label->buddy() || !label->text().contains(QLatin1Char('&')))
                continue;
            const QChar key = label->text().at(label->text().indexOf(QLatin1Char('&')) + 1).toUpper();
            EXPECT_TRUE(accessKeyTo(Qt::Key(key.unicode()), label->buddy()->objectName()))
                << "Alt+" << key.toLatin1() << " does not reach " << label->buddy()->objectName().toStdString();
        }
        if (auto *media = page->findChild<QCheckBox *>()) {
            EXPECT_TRUE(accessKeyTo(Qt::Key_M, media->objectName()));
        }
        reached += fields;
    }
    EXPECT_EQ(reached.size(), 22 + 1 + 2 + 7)
        << "22 text boxes, the check box, the boxes of ports 2 and 3, the 7 boxes of Impianto";

    // The operator finishes with the keyboard too: Enter is OK, and the
    // client's next reading has the new divisor.
    selectTab(dialog, 0);
    ASSERT_TRUE(accessKeyTo(Qt::Key_D, QStringLiteral("TxtBilanciaDivisore")));
    typeText(QStringLiteral("2"));
    press(Qt::Key_Return);
    ASSERT_TRUE(closed(dialog));
    EXPECT_DOUBLE_EQ(weight(), 25);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
