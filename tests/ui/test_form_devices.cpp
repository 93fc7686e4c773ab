// The settings window driven through keys and clicks on the offscreen
// platform, over a real settings file in a temporary folder.
#include "line/Line.h"
#include "line/PortDirectory.h"
#include "line/SettingsStore.h"
#include "support/MemoryPort.h"
#include "ui/LoadedWindow.h"
#include "ui/settings/FormDevices.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStringListModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvex;

namespace {

// Makes path unwritable: by its mode, or, for root, whom modes do not stop,
// by the immutable attribute. False when neither holds.
bool makeReadOnly(const QString &path, bool folder)
{
    const auto writable = [&] {
        QFile f(folder ? path + QStringLiteral("/probe") : path);
        const bool ok = f.open(QIODevice::Append);
        if (ok && folder)
            f.remove();
        return ok;
    };
    ::chmod(path.toLocal8Bit().constData(), folder ? 0555 : 0444);
    if (writable())
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path});
    return !writable();
}

void makeWritable(const QString &path, bool folder)
{
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
    ::chmod(path.toLocal8Bit().constData(), folder ? 0755 : 0644);
}

} // namespace

class TestFormDevices : public QObject {
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    // The real configuration loader, over ports in memory.
    Line *m_server = nullptr;
    LoadedWindow<FormDevices> m_window; // as the server holds its dialog
    int m_reloads = 0;
    QStringList m_loadWarnings; // what the next reload says
    int m_samplerShown = 0;
    int m_holdsBefore = 0;
    // The window holds the process alive while loaded.
    bool loaded() const { return KeepAlive::process().count() > m_holdsBefore; }

    QString fileName() const { return SettingsStore().fileName(); }
    static QByteArray read(const QString &name)
    {
        QFile f(name);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    static void write(const QString &name, const QByteArray &bytes)
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    FormDevicesHooks hooks()
    {
        FormDevicesHooks h;
        h.reloadConfiguration = [this] {
            ++m_reloads;
            m_server->CaricaDispositivi();
            return std::exchange(m_loadWarnings, {});
        };
        h.samplerWasOnAtLastLoad = [this] { return m_server->height().MisuraMedia; };
        h.definitions = [this] { return m_server->definitions(); };
        h.showSampler = [this] { ++m_samplerShown; };
        h.serialDevices = [] {
            return QList<SerialDeviceChoice>{{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"),
                                              QStringLiteral("FT232R USB UART, S/N A10K3")}};
        };
        return h;
    }

    FormDevices *show()
    {
        FormDevices *w = m_window.show([this] {
            auto *made = new FormDevices(hooks());
            made->setAttribute(Qt::WA_DeleteOnClose);
            return made;
        });
        if (!QTest::qWaitForWindowActive(w))
            qWarning("settings window not active");
        return w;
    }
    template<typename T = QLineEdit> T *field(FormDevices *w, const char *name)
    {
        return w->findChild<T *>(QLatin1String(name));
    }
    // A key as the operator presses it: to whatever has the focus.
    static void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget *target = QApplication::focusWidget();
        if (!target)
            target = QApplication::activeWindow();
        QTest::keyClick(target, key, mods);
    }
    // Focus through the access key (pressed again for a key two labels
    // share), then replace the text by typing.
    static void type(Qt::Key accessKey, const QString &text, int presses = 1)
    {
        for (int i = 0; i < presses; ++i)
            press(accessKey, Qt::AltModifier);
        press(Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : text) {
            // QTest maps only ASCII to keys; other letters come as text alone.
            if (c.unicode() < 128)
                QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    }
    static void selectTab(FormDevices *w, int index)
    {
        auto *tabs = w->findChild<QTabWidget *>(QStringLiteral("TabDevices"));
        for (int i = 0; i < 6 && tabs->currentIndex() != index; ++i)
            press(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), index);
    }
    void waitClosed(QPointer<FormDevices> w)
    {
        QTRY_VERIFY(w.isNull());
        QVERIFY(!m_window.get());
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path());
        QLocale::setDefault(QLocale(QLocale::English));
        m_reloads = m_samplerShown = 0;
        m_loadWarnings.clear();
        m_server = new Line([](const QString &) { return std::make_shared<MemoryPort>(); });
        m_server->loadPortHost(); // as in the server: the dialog's reloads find it loaded
        m_holdsBefore = KeepAlive::process().count();
    }
    void cleanup()
    {
        delete m_window.get();
        delete m_server;
        QLocale::setDefault(QLocale(QLocale::English));
        delete m_dir;
    }

    void emptyStoreShowsDefaultsAndOkWritesEveryKey()
    {
        QLocale::setDefault(QLocale(QLocale::Italian));
        QPointer<FormDevices> w = show();
        QVERIFY(loaded());
        QCOMPARE(w->windowTitle(), QStringLiteral("Dispositivi esterni"));
        QVERIFY(!field<QPushButton>(w, "CmdActionCAMP")->isVisible());
        QVERIFY(!field<QCheckBox>(w, "ChkAltezzaMedia")->isChecked());

        const QList<std::pair<const char *, QString>> expected{{"Bilancia/Marca", ""},
                                                               {"Bilancia/Modello", ""},
                                                               {"Bilancia/Divisore", "1"},
                                                               {"Bilancia/Porta", "1"},
                                                               {"Bilancia/Settaggio", "9600,N,8,1"},
                                                               {"Contametri/Marca", ""},
                                                               {"Contametri/Modello", ""},
                                                               {"Contametri/Divisore", "1"},
                                                               {"Contametri/Porta", "2"},
                                                               {"Contametri/Settaggio", "9600,N,8,1"},
                                                               {"Altezza/Marca", ""},
                                                               {"Altezza/Modello", ""},
                                                               {"Altezza/Divisore", "1"},
                                                               {"Altezza/Porta", "3"},
                                                               {"Altezza/Settaggio", "9600,N,8,1"},
                                                               {"Altezza/MisuraMedia", "0"},
                                                               {"Altezza/IntervalloDiCampionamento", "0,2"},
                                                               {"Altezza/DistanzaSensoreArrotolatore", "0"},
                                                               {"Altezza/DistanzaOperatoreArrotolatore", "0"},
                                                               {"Servizio/Marca", ""},
                                                               {"Servizio/Modello", ""},
                                                               {"Servizio/Divisore", "0"},
                                                               {"Servizio/Porta", ""},
                                                               {"Servizio/Settaggio", ""},
                                                               {"Impianto/Server", ""},
                                                               {"Impianto/Porta", "1883"},
                                                               {"Impianto/Linea", ""},
                                                               {"Impianto/Utente", ""},
                                                               {"Impianto/FilePassword", ""},
                                                               {"Impianto/FileCA", ""},
                                                               {"Impianto/Keepalive", "60"}};
        QCOMPARE(field(w, "TxtIntervalloDiCampionamento")->text(), QStringLiteral("0,2"));
        QCOMPARE(field(w, "TxtContametriPorta")->text(), QStringLiteral("2"));
        const auto changes = w->changesToSave();
        QCOMPARE(changes.size(), expected.size()); // no port is mapped yet: nothing under [Porte]
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(changes[i].group + "/" + changes[i].key, QLatin1String(expected[i].first));
            QCOMPARE(*changes[i].text, expected[i].second);
        }

        press(Qt::Key_Return);
        waitClosed(w);
        QCOMPARE(m_reloads, 1);
        QVERIFY(!loaded());
        const SettingsStore store;
        for (const auto &[path, text] : expected) {
            const QStringList gk = QString::fromLatin1(path).split('/');
            QCOMPARE(store.value(gk[0], gk[1]), std::optional<QString>(text));
        }
    }

    void typedTextRoundTripsExactlyWithHints()
    {
        // Values written by hand: without quotes, the text typed; "true" is
        // on, as the configuration reads it, so OK does not turn sampling off.
        QDir().mkpath(QFileInfo(fileName()).path());
        write(fileName(), "[Contametri]\nSettaggio=2400,N,8,1\n[Altezza]\nMisuraMedia=true\n");
        const QString brand = QStringLiteral("  Acme, \"Bilance\"; è ");
        QPointer<FormDevices> w = show();
        QCOMPARE(field(w, "TxtContametriSettaggio")->text(), QStringLiteral("2400,N,8,1"));
        QVERIFY(field<QCheckBox>(w, "ChkAltezzaMedia")->isChecked());

        type(Qt::Key_M, brand);
        type(Qt::Key_P, QStringLiteral("COM3"));
        QLabel *hint = field<QLabel>(w, "TxtBilanciaPortaHint");
        QVERIFY(hint->isVisible());
        QVERIFY(hint->text().endsWith(QStringLiteral("non è un numero: nessuna porta")));
        type(Qt::Key_S, QStringLiteral("19200,E,7,1"));
        type(Qt::Key_D, QStringLiteral("uno"), 2); // "Mo&dello" comes first
        QVERIFY(field<QLabel>(w, "TxtBilanciaDivisoreHint")->isVisible());
        QVERIFY(!field<QLabel>(w, "TxtBilanciaSettaggioHint")->isVisible());
        press(Qt::Key_Return);
        waitClosed(w);

        const SettingsStore store;
        QCOMPARE(store.value("Bilancia", "Marca"), std::optional<QString>(brand));
        QCOMPARE(store.value("Bilancia", "Porta"), std::optional<QString>("COM3"));
        QCOMPARE(store.value("Bilancia", "Settaggio"), std::optional<QString>("19200,E,7,1"));
        QCOMPARE(store.value("Bilancia", "Divisore"), std::optional<QString>("uno"));
        w = show();
        QCOMPARE(field(w, "TxtBilanciaMarca")->text(), brand);
        QCOMPARE(field(w, "TxtBilanciaPorta")->text(), QStringLiteral("COM3"));
    }

    void keyboardReachesEveryField()
    {
        SettingsStore().setValue("Altezza", "MisuraMedia", "1");
        m_server->CaricaDispositivi();
        QPointer<FormDevices> w = show();
        const auto check = [&](Qt::Key key, const char *name) {
            press(key, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
        };
        // "Mo&dello" and "&Divisore" share their key: it goes from one to the other.
        check(Qt::Key_D, "TxtBilanciaModello");
        check(Qt::Key_D, "TxtBilanciaDivisore");
        check(Qt::Key_M, "TxtBilanciaMarca");
        QCOMPARE(field(w, "TxtBilanciaMarca")->accessibleName(), QStringLiteral("Marca"));
        // Tab runs down the fields, then the buttons left to right.
        for (const char *name : {"TxtBilanciaModello", "TxtBilanciaDivisore", "TxtBilanciaPorta",
                                 "TxtBilanciaSettaggio", "CmdActionCAMP", "CmdActionCANCEL", "CmdActionOK"}) {
            press(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
        }
        selectTab(w, 1); // Ctrl+Tab from a button too
        check(Qt::Key_M, "TxtContametriMarca");
        selectTab(w, 3);
        check(Qt::Key_O, "TxtDistanzaOperatoreArrotolatore");
        check(Qt::Key_M, "ChkAltezzaMedia");
        selectTab(w, 4);
        check(Qt::Key_P, "txtPortaDispositivo");
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("txtSettaggioDispositivo"));
        selectTab(w, 5);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("CboPorta1"));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("CboPorta2"));
    }

    void cancelLeavesStoreAndConfiguration_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("Esc") << 0;
        QTest::newRow("close box") << 1;
        QTest::newRow("Annulla") << 2;
    }
    void cancelLeavesStoreAndConfiguration()
    {
        QFETCH(int, how);
        SettingsStore().setValue("Bilancia", "Marca", "BILANCIAI");
        const QByteArray before = read(fileName());
        QPointer<FormDevices> w = show();
        type(Qt::Key_M, QStringLiteral("altro"));
        if (how == 0)
            press(Qt::Key_Escape);
        else if (how == 1)
            w->windowHandle()->close();
        else
            QTest::mouseClick(field<QPushButton>(w, "CmdActionCANCEL"), Qt::LeftButton);
        waitClosed(w);
        QCOMPARE(read(fileName()), before);
        QCOMPARE(m_reloads, 0);
        QVERIFY(!loaded());
    }

    void campioniFollowsTheLastLoad()
    {
        QPointer<FormDevices> w = show();
        QPushButton *camp = field<QPushButton>(w, "CmdActionCAMP");
        selectTab(w, 3);
        press(Qt::Key_M, Qt::AltModifier);
        press(Qt::Key_Space);
        QVERIFY(field<QCheckBox>(w, "ChkAltezzaMedia")->isChecked());
        QVERIFY(!camp->isVisible());
        press(Qt::Key_Return);
        waitClosed(w);
        QCOMPARE(SettingsStore().value("Altezza", "MisuraMedia"), std::optional<QString>("1"));

        w = show();
        camp = field<QPushButton>(w, "CmdActionCAMP");
        QVERIFY(camp->isVisible());
        QTest::mouseClick(camp, Qt::LeftButton);
        QCOMPARE(m_samplerShown, 1);
        QVERIFY(w->isVisible());
    }

    void secondShowBringsTheSameWindowWithItsEdits()
    {
        QPointer<FormDevices> w = show();
        type(Qt::Key_M, QStringLiteral("in corso"));
        SettingsStore().setValue("Bilancia", "Marca", "dal file");
        QCOMPARE(show(), w.data());
        QCOMPARE(field(w, "TxtBilanciaMarca")->text(), QStringLiteral("in corso"));
        QVERIFY(w->isVisible());
    }

    void failedSaveKeepsDialogEditsAndFile_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("read-only file") << false;
        QTest::newRow("read-only folder") << true;
    }
    void failedSaveKeepsDialogEditsAndFile()
    {
        QFETCH(bool, folder);
        SettingsStore().setValue("Bilancia", "Marca", "BILANCIAI");
        const QByteArray before = read(fileName());
        const QString target = folder ? QFileInfo(fileName()).path() : fileName();
        QPointer<FormDevices> w = show();
        type(Qt::Key_M, QStringLiteral("nuova"));
        if (!makeReadOnly(target, folder))
            QSKIP("cannot make the settings file read-only here");

        press(Qt::Key_Return);
        auto *box = w->findChild<QMessageBox *>(QStringLiteral("SaveFailedMessage"));
        makeWritable(target, folder);
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->informativeText().contains(fileName()));
        QVERIFY(w->isVisible());
        QCOMPARE(field(w, "TxtBilanciaMarca")->text(), QStringLiteral("nuova"));
        QCOMPARE(m_reloads, 0);
        QCOMPARE(read(fileName()), before);
        // Nothing of the failed save lingers for other readers in the process.
        QCOMPARE(SettingsStore().value("Bilancia", "Marca"), std::optional<QString>("BILANCIAI"));
        QVERIFY(!SettingsStore().value("Contametri", "Porta"));

        // Once the file can be written, OK goes through.
        box->accept();
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        QTest::mouseClick(field<QPushButton>(w, "CmdActionOK"), Qt::LeftButton);
        waitClosed(w);
        QCOMPARE(SettingsStore().value("Bilancia", "Marca"), std::optional<QString>("nuova"));
        QCOMPARE(m_reloads, 1);
    }

    // A load that could not use everything is shown like a failed save, in
    // a box that stays after the dialog has closed.
    void loadWarningsAfterOkAreShown()
    {
        m_loadWarnings = {QStringLiteral("[Bilancia] Divisor is not a key of [Bilancia] and is not read")};
        QPointer<FormDevices> w = show();
        press(Qt::Key_Return);
        waitClosed(w);
        QCOMPARE(m_reloads, 1);
        QMessageBox *box = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QStringLiteral("LoadWarningsMessage"))
                box = qobject_cast<QMessageBox *>(top);
        }
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(box->informativeText().contains(QStringLiteral("Divisor is not a key")));
        QVERIFY(box->informativeText().contains(fileName()));
        QVERIFY(!box->accessibleName().isEmpty());
        box->accept();
    }

    // The brand and model fields offer the models that serve the role; a
    // definition dropped in while the dialog is open is bound by its OK.
    void brandAndModelOfferKnownModelsAndOkBindsANewDefinition()
    {
        qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
        const QString folder = m_dir->path() + QStringLiteral("/Velkaro s.r.l./Quorvex/strumenti");
        QDir().mkpath(folder);
        const QByteArray scale = "[Strumento]\nMarca=ACME\nModello=W200\n[LeggiPeso]\nRichiesta=P\nFine=\"\\r\"\n"
                                 "Formato=\"([0-9.]+)\"\n";
        write(folder + QStringLiteral("/w200.ini"), scale);
        m_server->CaricaDispositivi();
        QPointer<FormDevices> w = show();
        const auto offered = [&](const char *name) {
            auto *model = qobject_cast<QStringListModel *>(field(w, name)->completer()->model());
            return model->stringList();
        };
        QVERIFY(offered("TxtBilanciaMarca").contains(QStringLiteral("ACME")));
        QVERIFY(offered("TxtBilanciaMarca").contains(QStringLiteral("BILANCIAI")));
        QVERIFY(!offered("TxtContametriMarca").contains(QStringLiteral("ACME")));
        field(w, "TxtBilanciaMarca")->setText(QStringLiteral("BILANCIAI"));
        QCOMPARE(offered("TxtBilanciaModello"), QStringList{QStringLiteral("D400")});

        write(folder + QStringLiteral("/w300.ini"), QByteArray(scale).replace("W200", "W300"));
        field(w, "TxtBilanciaMarca")->setText(QStringLiteral("ACME"));
        field(w, "TxtBilanciaModello")->setText(QStringLiteral("W300"));
        field<QPushButton>(w, "CmdActionOK")->click();
        waitClosed(w);
        QVERIFY(m_server->device(Role::Bilancia).driver(RoleOperation::LeggiPeso));
        qunsetenv("XDG_CONFIG_HOME");
    }

    void okSavesPortsAndReloadsTheRunningConfiguration()
    {
        QLocale::setDefault(QLocale(QLocale::Italian));
        SettingsStore().setValue("Porte", "2", "/dev/old");
        m_server->CaricaDispositivi();
        QPointer<FormDevices> w = show();
        type(Qt::Key_P, QStringLiteral("4"));
        type(Qt::Key_S, QStringLiteral("19200,E,7,1"));
        type(Qt::Key_D, QStringLiteral("0,5"), 2);
        selectTab(w, 4);
        type(Qt::Key_P, QStringLiteral("3")); // the service device shares the height sensor's port
        selectTab(w, 5);
        auto *four = field<QComboBox>(w, "CboPorta4");
        auto *two = field<QComboBox>(w, "CboPorta2");
        QVERIFY(four && two && field<QComboBox>(w, "CboPorta3"));
        QVERIFY(!field<QComboBox>(w, "CboPorta1"));
        QCOMPARE(two->currentText(), QStringLiteral("/dev/old"));
        QCOMPARE(four->lineEdit()->placeholderText(), QStringLiteral("/dev/ttyS3"));

        // Port 4 takes the adapter from the drop-down; port 2 goes back to its default.
        four->setFocus();
        press(Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(four->view()->isVisible());
        press(Qt::Key_Return);
        const QString adapter = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
        QCOMPARE(four->currentText(), adapter);
        QVERIFY(field<QLabel>(w, "LblPorta4Dispositivo")->text().contains(QStringLiteral("S/N A10K3")));
        two->setFocus();
        press(Qt::Key_A, Qt::ControlModifier);
        press(Qt::Key_Delete);
        press(Qt::Key_Return); // Enter in a device box is OK too
        waitClosed(w);

        const Device scale = m_server->device(QStringLiteral("BIL"));
        QCOMPARE(scale.Porta, 4);
        QCOMPARE(scale.Divisore, 0.5);
        QCOMPARE(scale.port->Settings(), QStringLiteral("19200,E,7,1"));
        QVERIFY(scale.port->PortOpen());
        QCOMPARE(devicePathIn(readPortDevices(SettingsStore().snapshot()), 4), adapter);
        QVERIFY(!SettingsStore().value("Porte", "2"));
        QVERIFY(!SettingsStore().value("Porte", "3"));
        QCOMPARE(m_server->device(QStringLiteral("CTM")).Porta, 2); // the defaults shown are now stored
        QCOMPARE(m_server->height().IntervalloDiCampionamento, 0.2);
    }
};

QTEST_MAIN(TestFormDevices)
#include "test_form_devices.moc"
