#pragma once
// Which device a port number stands for: the [Porte] group of the settings
// store maps numbers to device paths ("3=/dev/serial/by-id/usb-..."); a
// number without a key is /dev/ttyS<n-1>. The map is read at each
// configuration load, so a change takes effect at the next load.
#include <QMap>
#include <QString>

namespace quorvex {

class SettingsSnapshot;

// Port number to device path, as [Porte] held them at a load.
using PortDevices = QMap<int, QString>;

PortDevices readPortDevices(const SettingsSnapshot &store);
// The device of number: its entry in devices, else the default.
QString devicePathIn(const PortDevices &devices, int number);
// The device of a number without a [Porte] key.
QString defaultDevicePath(int number);

} // namespace quorvex
