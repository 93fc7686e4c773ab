// Renders the server's windows to PNG files, with simulated readings, for
// review: quorvex_screenshots OUTPUT_DIR. Settings go to a scratch folder,
// never to the user's own file.
#include "line/SettingsStore.h"
#include "tracking/Sampler.h"
#include "ui/sampler/FormSamples.h"

#include <QApplication>
#include <QCoro/QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cmath>

using namespace quorvex;

namespace {

bool save(QWidget &w, const QDir &out, const QString &name)
{
    const QString path = out.filePath(name);
    const bool ok = w.grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << '\n';
    return ok;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The sampler window over a counter running at 0.75 units a second and a
// height that wavers around 5.
bool samplerWindow(const QDir &out)
{
    SettingsStore store;
    store.setValue(QStringLiteral("Contametri"), QStringLiteral("Marca"), QStringLiteral("ELAP"));
    store.setValue(QStringLiteral("Contametri"), QStringLiteral("Modello"), QStringLiteral("CM78A"));
    store.setValue(QStringLiteral("Altezza"), QStringLiteral("Marca"), QStringLiteral("CTM"));
    store.setValue(QStringLiteral("Altezza"), QStringLiteral("Modello"), QStringLiteral("1"));
    store.setValue(QStringLiteral("Bilancia"), QStringLiteral("Marca"), QStringLiteral("BILANCIAI"));
    store.setValue(QStringLiteral("Bilancia"), QStringLiteral("Modello"), QStringLiteral("D400"));

    QElapsedTimer clock;
    clock.start();
    const auto length = [&] { return std::round(clock.elapsed() * 0.75) / 1000.0; };
    Sampler sampler(
        [&]() -> QCoro::Task<double> { co_return length(); },
        [&]() -> QCoro::Task<double> { co_return std::round((5 + 0.3 * std::sin(length() * 4)) * 100) / 100; });
    sampler.setSettings({0.2, 3, 1.5});
    FormSamples form(sampler);
    form.ShowSampler(true);
    runFor(2500);
    bool ok = save(form, out, QStringLiteral("sampler.png"));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_L, Qt::NoModifier, QStringLiteral("l"));
    QApplication::sendEvent(&form, &key);
    runFor(100);
    ok = save(form, out, QStringLiteral("sampler-list.png")) && ok;
    sampler.SwitchTimer();
    runFor(100);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
    if (!QDir().mkpath(out.path()))
        return 1;
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    // The line's operators read Italian number formats.
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));

    bool ok = samplerWindow(out);
    return ok ? 0 : 1;
}
