#pragma once
// The name of a serial device that survives replugging: udev's link in
// /dev/serial/by-id names the adapter (maker, model, serial number), while
// the ttyUSBn it points at depends on the order adapters were plugged in.
#include <QString>

namespace quorvex {

inline constexpr const char *kSerialByIdFolder = "/dev/serial/by-id";

// The link in folder that leads to the same device as device (itself a
// path or a link), the first by name when several do; empty when none does.
QString stableDeviceName(const QString &device, const QString &folder = QLatin1String(kSerialByIdFolder));

} // namespace quorvex
