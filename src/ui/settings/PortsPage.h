#pragma once
// The "Porte" tab: which device each port number used by the roles stands
// for, kept in the [Porte] group of the store. A number without a device
// keeps the default device of its number.
#include "line/SettingsStore.h"
#include "ui/settings/SerialDevices.h"

#include <QMap>
#include <QWidget>

class QComboBox;
class QGridLayout;
class QLabel;

namespace quorvex {

class PortsPage : public QWidget {
    Q_OBJECT
public:
    explicit PortsPage(QList<SerialDeviceChoice> devices, QWidget *parent = nullptr);

    // The roles and the port text of each, as the role tabs show it now;
    // rebuilds the rows, keeping what was typed for numbers still in use.
    void setRolePorts(const QList<std::pair<QString, QString>> &rolePorts);
    // The [Porte] writes for the numbers listed: the path typed, or removal
    // of a mapping that was cleared.
    QList<SettingsStore::Change> changes() const;
    // The device boxes, top to bottom, for the tab order.
    QList<QWidget *> focusChain() const;

signals:
    void rowsChanged();

private:
    QString pathFor(int number) const;
    void describe(QComboBox *box, QLabel *about) const;

    QList<SerialDeviceChoice> m_devices;
    QMap<int, QString> m_typed;                 // what each number's box holds
    QMap<int, std::optional<QString>> m_stored; // what the store held when first listed
    QList<QComboBox *> m_boxes;
    QGridLayout *m_grid = nullptr;
    QWidget *m_rows = nullptr;
};

} // namespace quorvex
