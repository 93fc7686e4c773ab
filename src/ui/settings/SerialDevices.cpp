#include "ui/settings/SerialDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>

namespace quorvex {

namespace {

// The /dev/serial/by-id link that leads to device, or device itself: the
// link names the adapter and survives replugging, ttyUSBn does not.
QString stablePath(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!target.isEmpty() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return device;
}

} // namespace

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
        devices.append({stablePath(info.systemLocation()), about.join(QStringLiteral(", "))});
    }
    return devices;
}

} // namespace quorvex
