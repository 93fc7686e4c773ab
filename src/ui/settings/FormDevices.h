#pragma once
// FormDevices, the settings window: the four instrument roles and height
// sampling as plain text fields over the settings store, and the device of
// each port number. OK writes everything and reloads the configuration;
// Annulla, Esc and the close box leave both untouched.
#include "common/KeepAlive.h"
#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"
#include "ui/settings/FormDevicesHooks.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace quorvex {

class PortsPage;

class FormDevices : public QDialog {
    Q_OBJECT
public:
    explicit FormDevices(FormDevicesHooks hooks, QWidget *parent = nullptr);
    ~FormDevices() override;

    // Fills every control from the store.
    void CaricaImpostazioni();
    // Writes every control to the store in one go; false, with the reason,
    // when the store could not be written.
    bool SalvaImpostazioni(QString *why = nullptr);
    // What SalvaImpostazioni writes, in order.
    QList<SettingsStore::Change> changesToSave() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildTabs();
    void addPortsTab();
    void addField(const SettingRow &row, QGridLayout *grid);
    QLabel *makeHint(QLineEdit *edit, SettingKind kind);
    void offerKnownModels(const SettingRow &row, QLineEdit *edit);
    void buildButtons();
    void updateTabOrder();
    void updatePortsTab();
    void CmdAction_Click(int Index);
    void reportSaveFailure(const QString &why);
    void reportLoadWarnings(const QStringList &warnings);

    FormDevicesHooks m_hooks;
    QTabWidget *m_tabs = nullptr;
    PortsPage *m_ports = nullptr;
    QHash<QString, QLineEdit *> m_edits; // by object name
    QHash<QString, QLineEdit *> m_brandEdits; // by settings group
    QList<QWidget *> m_fieldOrder; // controls top to bottom, tab by tab
    QList<std::function<void()>> m_refreshHints;
    QCheckBox *m_media = nullptr;
    QList<QPushButton *> m_cmdAction; // by index: OK, Annulla, Campioni
    // Loaded, the window keeps the process alive.
    KeepAliveToken m_loaded = KeepAliveToken::take();
};

} // namespace quorvex
