#include "app/ServerWindows.h"

#include "app/HeightTracking.h"
#include "line/Line.h"
#include "ui/history/FormHistory.h"
#include "ui/sampler/FormSamples.h"
#include "ui/settings/FormDevices.h"

#include <QDir>
#include <QFile>
#include <QTimer>

namespace quorvex {

namespace {

// With QUORVEX_SCREENSHOT_DIR set, a window shown is saved there as
// <object name>.png once it has been laid out and painted: the way to look
// at the real server's windows on the offscreen platform.
void grabWhenShown(QWidget *window)
{
    const QString dir = qEnvironmentVariable("QUORVEX_SCREENSHOT_DIR");
    if (dir.isEmpty() || !window)
        return;
    QTimer::singleShot(300, window, [window, dir] {
        // Written under a temporary name and renamed: whoever waits for the
        // file never sees half a PNG.
        const QString path = QDir(dir).filePath(window->objectName() + QStringLiteral(".png"));
        const QString partial =
            QDir(dir).filePath(QStringLiteral(".") + window->objectName() + QStringLiteral(".png.part"));
        if (window->grab().save(partial, "PNG")) {
            QFile::remove(path);
            QFile::rename(partial, path);
        }
    });
}

} // namespace

ServerWindows::ServerWindows(Line &line, HeightTracking &tracking, CoilStore *store, QObject *parent)
        : QObject(parent), m_line(line), m_tracking(tracking), m_coilStore(store)
{
    connect(&m_tracking, &HeightTracking::samplerLoaded, this, &ServerWindows::loadSamplerWindow);
}

ServerWindows::~ServerWindows() = default;

FormDevices *ServerWindows::settings() const
{
    return m_settings.get();
}

// A sampler made by the tracking gets its window at once, hidden; the
// window starts the sampling.
void ServerWindows::loadSamplerWindow(Sampler &sampler)
{
    m_samples.load([&sampler] { return new FormSamples(sampler); });
}

// Hiding a sampler never loaded loads it all the same: it stays hidden and
// samples, and keeps the process alive like any loaded window.
void ServerWindows::showSampler(bool show)
{
    loadSamplerWindow(m_tracking.loadSampler());
    m_samples.get()->ShowSampler(show);
    if (show)
        grabWhenShown(m_samples.get());
}

void ServerWindows::showSettings()
{
    FormDevices *dialog = m_settings.show([this] {
        FormDevicesHooks hooks;
        hooks.reloadConfiguration = [this] {
            return m_line.reloadConfiguration(QStringLiteral("the settings dialog's OK"));
        };
        hooks.samplerWasOnAtLastLoad = [this] { return m_line.height().MisuraMedia; };
        hooks.definitions = [this] { return m_line.definitions(); };
        hooks.showSampler = [this] { showSampler(true); };
        auto *made = new FormDevices(hooks);
        // Closed, the dialog is gone; the next one reads the store afresh.
        made->setAttribute(Qt::WA_DeleteOnClose);
        return made;
    });
    grabWhenShown(dialog);
}

void ServerWindows::showHistory()
{
    if (!m_coilStore)
        return;
    FormHistory *history = m_history.show([this] {
        auto *made = new FormHistory(*m_coilStore, m_tracking.sampler());
        // Open, the window keeps the process alive; closed, it is gone.
        made->setAttribute(Qt::WA_DeleteOnClose);
        return made;
    });
    grabWhenShown(history);
}

void ServerWindows::unload()
{
    if (FormSamples *samples = m_samples.get())
        samples->unload();
}

} // namespace quorvex
