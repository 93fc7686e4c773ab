// Renders every tab of the settings window to PNG, once over an empty store
// (the defaults) and once over a filled one with a few values the
// configuration cannot use, so their hints show.
//   quorvex_settings_screenshots OUTPUT_DIR
#include "line/SettingsStore.h"
#include "ui/settings/FormDevices.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLocale>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

using namespace quorvex;

namespace {

const char *const kTabNames[] = {"bilancia", "contametri", "altezza", "altezza-media", "servizio", "porte", "impianto"};

void fillStore()
{
    SettingsStore store;
    const QList<SettingsStore::Change> values{
        {"Bilancia", "Marca", "BILANCIAI"},
        {"Bilancia", "Modello", "D400"},
        {"Bilancia", "Divisore", "0,001"},
        {"Bilancia", "Porta", "1"},
        {"Bilancia", "Settaggio", "9600,N,8,1"},
        {"Contametri", "Marca", "CTM"},
        {"Contametri", "Modello", "CTM"},
        {"Contametri", "Divisore", "0,1"},
        {"Contametri", "Porta", "COM2"},
        {"Contametri", "Settaggio", "19200,E,7,1"},
        {"Altezza", "Marca", "ELAP"},
        {"Altezza", "Modello", "CM78"},
        {"Altezza", "Divisore", "uno"},
        {"Altezza", "Porta", "3"},
        {"Altezza", "Settaggio", "9600,X,8,1"},
        {"Altezza", "MisuraMedia", "1"},
        {"Altezza", "IntervalloDiCampionamento", "0,5"},
        {"Altezza", "DistanzaSensoreArrotolatore", "12,5"},
        {"Altezza", "DistanzaOperatoreArrotolatore", "circa 3"},
        {"Servizio", "Marca", "MELSEC"},
        {"Servizio", "Modello", "FX"},
        {"Servizio", "Porta", "4"},
        {"Servizio", "Settaggio", "9600,E,7,1"},
        {"Porte", "1", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3-if00-port0"},
        {"Porte", "4", "/dev/ttyUSB1"},
        {"Impianto", "Server", "mqtt.impianto.local"},
        {"Impianto", "Porta", "8883"},
        {"Impianto", "Linea", "linea3"},
        {"Impianto", "Utente", "linea3"},
        {"Impianto", "FilePassword", "/home/operatore/.config/mqtt-password"},
        {"Impianto", "FileCA", "/etc/ssl/certs/impianto-ca.pem"}};
    store.write(values);
}

void shoot(const QString &dir, const char *variant, bool samplerOn)
{
    FormDevicesHooks hooks;
    hooks.samplerWasOnAtLastLoad = [samplerOn] { return samplerOn; };
    hooks.serialDevices = [] {
        return QList<SerialDeviceChoice>{{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3-if00-port0"),
                                          QStringLiteral("FT232R USB UART, FTDI, S/N A10K3")},
                                         {QStringLiteral("/dev/serial/by-id/usb-Prolific_PL2303-if00-port0"),
                                          QStringLiteral("USB-Serial Controller, Prolific")}};
    };
    auto *w = new FormDevices(hooks);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    if (!QTest::qWaitForWindowExposed(w))
        std::fprintf(stderr, "window not exposed\n");
    auto *tabs = w->findChild<QTabWidget *>(QStringLiteral("TabDevices"));
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(50);
        const QString name =
            QStringLiteral("%1/settings-%2-%3.png").arg(dir, QLatin1String(kTabNames[i]), QLatin1String(variant));
        w->grab().save(name);
        std::printf("%s\n", qPrintable(name));
    }
    // The drop-down of the first port, open.
    if (auto *box = w->findChild<QComboBox *>(QStringLiteral("CboPorta1"))) {
        box->showPopup();
        QTest::qWait(50);
        const QString name = QStringLiteral("%1/settings-porte-dropdown-%2.png").arg(dir, QLatin1String(variant));
        box->view()->window()->grab().save(name);
        std::printf("%s\n", qPrintable(name));
        box->hidePopup();
    }
    delete w;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(out);
    QLocale::setDefault(QLocale(QLocale::Italian));
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());

    shoot(out, "defaults", false);
    fillStore();
    shoot(out, "values", true);
    return 0;
}
