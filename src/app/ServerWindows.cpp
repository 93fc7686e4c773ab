#include "app/ServerWindows.h"

#include "line/Line.h"
#include "tracking/Sampler.h"
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
        const QString partial = QDir(dir).filePath(QStringLiteral(".") + window->objectName() + QStringLiteral(".png.part"));
        if (window->grab().save(partial, "PNG")) {
            QFile::remove(path);
            QFile::rename(partial, path);
        }
    });
}

} // namespace

ServerWindows::ServerWindows(Line &line, QObject *parent) : QObject(parent), m_line(line)
{
    m_services.showSettings = [this] { showSettings(); };
    m_services.showSampler = [this](bool show) { showSampler(show); };
    connect(&m_line, &Line::configurationLoaded, this, &ServerWindows::configurationLoaded);
}

ServerWindows::~ServerWindows()
{
    m_services.sampler = nullptr;
    delete m_history;
    m_form.reset();
    m_sampler.reset();
    m_globaleInterno.reset();
}

void ServerWindows::startHeightTracking()
{
    if (!m_globaleInterno)
        m_globaleInterno = std::make_unique<Global>(m_line, &m_services);
    loadSampler();
}

void ServerWindows::loadSampler()
{
    if (m_sampler)
        return;
    // The sampler reads through the server's own instance, forced; without
    // that instance there is nothing to read with, and readings are 0.
    auto read = [this](bool length) -> QCoro::Task<double> {
        if (!m_globaleInterno)
            co_return 0.0;
        // Not a conditional expression: GCC 12 runs the awaits of both its
        // branches, which read both instruments on every tick.
        if (length)
            co_return co_await m_globaleInterno->LeggiLunghezza(true);
        co_return co_await m_globaleInterno->LeggiAltezza(true);
    };
    m_sampler = std::make_unique<Sampler>([read] { return read(true); }, [read] { return read(false); });
    m_sampler->setSettings(m_line.height());
    m_services.sampler = m_sampler.get();
    m_form = std::make_unique<FormSamples>(*m_sampler); // loads hidden and starts sampling
}

// Hiding a sampler never loaded loads it all the same: it stays hidden and
// samples, and keeps the process alive like any loaded window.
void ServerWindows::showSampler(bool show)
{
    loadSampler();
    m_form->ShowSampler(show);
    if (show)
        grabWhenShown(m_form.get());
}

void ServerWindows::showSettings()
{
    FormDevicesHooks hooks;
    hooks.reloadConfiguration = [this] { m_line.reloadConfiguration(QStringLiteral("the settings dialog's OK")); };
    hooks.samplerWasOnAtLastLoad = [this] { return m_line.height().MisuraMedia; };
    hooks.showSampler = [this] { showSampler(true); };
    grabWhenShown(FormDevices::showSettings(hooks));
}

void ServerWindows::showHistory()
{
    if (!m_coilStore)
        return;
    if (!m_history) {
        m_history = new FormHistory(*m_coilStore, m_sampler.get());
        // Open, the window keeps the process alive; closed, it is gone.
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
    grabWhenShown(m_history);
}

void ServerWindows::configurationLoaded()
{
    if (m_sampler)
        m_sampler->setSettings(m_line.height());
    // Switched on at run time: tracking starts now, without a restart, and
    // reads through the server's own instance even when the window was
    // loaded before without one. A switch off leaves a running sampler
    // running.
    if (m_line.height().MisuraMedia)
        startHeightTracking();
}

void ServerWindows::unload()
{
    if (m_form)
        m_form->unload();
}

} // namespace quorvex
