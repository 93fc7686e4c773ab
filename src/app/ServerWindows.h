#pragma once
// The process's own parts beyond the D-Bus object: the server's own Global
// instance (GlobaleInterno), the sampler with its window, and the settings
// dialog. It offers them to every Global as GlobalServices. Each loaded
// window holds the process alive by itself (KeepAlive).
#include "api/Global.h"
#include "api/GlobalServices.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace quorvex {

class CoilStore;
class FormHistory;
class FormSamples;
class Line;
class Sampler;

class ServerWindows : public QObject {
    Q_OBJECT
public:
    explicit ServerWindows(Line &line, QObject *parent = nullptr);
    ~ServerWindows() override;

    GlobalServices *services() { return &m_services; }

    // With height tracking on: the server's own instance and the sampler,
    // loaded hidden. Makes whichever of them is missing.
    void startHeightTracking();
    // Shows (loading it first) or hides the sampler window.
    void showSampler(bool show);
    void showSettings();
    // Opens the history window over the coil store (raises it if open).
    void setCoilStore(CoilStore *store) { m_coilStore = store; }
    void showHistory();

    // Saves what the windows keep (placement) on a way out that is not a
    // normal quit.
    void unload();

private:
    void loadSampler();
    void configurationLoaded();

    Line &m_line;
    GlobalServices m_services;
    std::unique_ptr<Global> m_globaleInterno;
    std::unique_ptr<Sampler> m_sampler;
    std::unique_ptr<FormSamples> m_form;
    CoilStore *m_coilStore = nullptr;
    QPointer<FormHistory> m_history;
};

} // namespace quorvex
