#pragma once
// The "Porte" tab: which device each port number used by the roles stands
// for, kept in the [Porte] group of the store. A number without a device
// keeps the default device of its number.
#include "line/SettingsStore.h"
#include "serial/SerialDevices.h"

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
    // adds and drops rows in place, keeping what was typed for each number.
    void setRolePorts(const QList<std::pair<QString, QString>> &rolePorts);
    // The [Porte] writes for the numbers listed: the path typed, or removal
    // of a mapping that was cleared.
    QList<SettingsStore::Change> changes() const;
    // The device boxes, top to bottom, for the tab order.
    QList<QWidget *> focusChain() const;

signals:
    void rowsChanged();

private:
    struct Row {
        QLabel *label;
        QComboBox *box;
        QLabel *roles;
        QLabel *about;
    };
    Row makeRow(int number);
    QComboBox *makeDeviceBox(int number);
    void layOutRows();
    void describe(QComboBox *box, QLabel *about) const;

    QList<SerialDeviceChoice> m_devices;
    QMap<int, QString> m_typed; // what each number's box holds, kept when its row goes
    QMap<int, std::optional<QString>> m_stored; // what the store held when first listed
    QMap<int, Row> m_rows; // by port number
    QGridLayout *m_grid = nullptr;
    QLabel *m_none = nullptr; // shown when no role has a port number
};

} // namespace quorvex
