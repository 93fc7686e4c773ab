#pragma once
// Which device a port number stands for: the [Porte] group of the settings
// store maps numbers to device paths ("3=/dev/serial/by-id/usb-..."); a
// number without a key is /dev/ttyS<n-1>.
#include <QString>

namespace quorvex {

QString devicePathForPort(int number);
// The device of a number without a [Porte] key.
QString defaultDevicePath(int number);

} // namespace quorvex
