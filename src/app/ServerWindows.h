#pragma once
// The server's three windows: the settings dialog, the sampler window over
// the height tracking's sampler, and the history window over the coil store.
// Each is the one of its kind (LoadedWindow): made on first need, brought
// forward when asked for again. Each loaded window holds the process alive
// by itself (KeepAlive).
#include "ui/LoadedWindow.h"

#include <QObject>

namespace quorvex {

class CoilStore;
class FormDevices;
class FormHistory;
class FormSamples;
class HeightTracking;
class Line;
class Sampler;

class ServerWindows : public QObject {
    Q_OBJECT
public:
    // store: the coil store the history window shows, or none.
    ServerWindows(Line &line, HeightTracking &tracking, CoilStore *store, QObject *parent = nullptr);
    ~ServerWindows() override;

    // Shows (loading it first) or hides the sampler window.
    void showSampler(bool show);
    void showSettings();
    // Opens the history window over the coil store (raises it if open).
    void showHistory();

    // The loaded settings dialog, or null.
    FormDevices *settings() const;

    // Saves what the windows keep (placement) on a way out that is not a
    // normal quit.
    void unload();

private:
    void loadSamplerWindow(Sampler &sampler);

    Line &m_line;
    HeightTracking &m_tracking;
    CoilStore *m_coilStore;
    LoadedWindow<FormSamples> m_samples;
    LoadedWindow<FormDevices> m_settings;
    LoadedWindow<FormHistory> m_history;
};

} // namespace quorvex
