#pragma once
// The sampler window: live length and height in large display figures, the
// brand and model of the counter, the height sensor and the scale, and on
// request the list of recorded samples. It shows a Sampler; sampling goes on
// whether the window is shown or hidden.
#include "common/KeepAlive.h"
#include "drivers/Roles.h"

#include <QWidget>

class QLabel;
class QListWidget;

namespace quorvex {

class Sampler;
class SettingsStore;

class FormSamples : public QWidget {
    Q_OBJECT
public:
    // Loads the window hidden: brand labels from the settings store, value
    // labels lined up, placement restored, and the sampler started.
    explicit FormSamples(Sampler &sampler, QWidget *parent = nullptr);
    ~FormSamples() override;

    static const QString kCaptionPrefix;

    // Shows the window without blocking and gives it the focus, or hides it.
    void ShowSampler(bool show);
    // Flips the sampler between running and paused.
    void SwitchTimer();
    // Saves the placement: the end of the process. Runs by itself when the
    // application quits normally; call it before any other way out.
    void unload();

    // Shows the sample list (a fresh snapshot) if hidden, else hides it.
    void toggleSampleList();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool handleKey(QKeyEvent *event);
    void applyResizeRules();
    void buildRoleLabels();
    void buildSampleList();
    void loadBrands();
    QLabel *&valueLabel(Role role);

    Sampler &m_sampler;
    QListWidget *m_lstSamples = nullptr;
    QLabel *m_lbls[6] = {};
    QLabel *m_lblLunghezza = nullptr;
    QLabel *m_lblAltezza = nullptr;
    QLabel *m_lblPeso = nullptr;
    // Loaded, shown or hidden, the window keeps the process alive.
    KeepAliveToken m_loaded = KeepAliveToken::take();
};

} // namespace quorvex
