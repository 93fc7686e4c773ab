#include "serial/SerialDevices.h"

#include "serial/StableDeviceName.h"

#include <QSerialPortInfo>
#include <QStringList>

#include <algorithm>

namespace quorvex {

QList<SerialDeviceChoice> presentSerialDevices()
{
    QList<SerialDeviceChoice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QStringList about;
        if (!info.description().isEmpty())
            about << info.description();
        if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer()))
            about << info.manufacturer();
        if (!info.serialNumber().isEmpty())
            about << QStringLiteral("S/N %1").arg(info.serialNumber());
        // The link names the adapter and survives replugging, ttyUSBn does not.
        const QString stable = stableDeviceName(info.systemLocation());
        devices.append({stable.isEmpty() ? info.systemLocation() : stable, about.join(QStringLiteral(", "))});
    }
    // Adapters with such a name first: those are the ones to choose.
    std::stable_partition(devices.begin(), devices.end(), [](const SerialDeviceChoice &d) {
        return d.path.startsWith(QLatin1String(kSerialByIdFolder) + QLatin1Char('/'));
    });
    return devices;
}

} // namespace quorvex
