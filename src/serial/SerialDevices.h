#pragma once
// The serial devices present on this machine, as the ports tab and the
// client's `ports` list them.
#include <QList>
#include <QString>

namespace quorvex {

struct SerialDeviceChoice {
    QString path; // stable /dev/serial/by-id path where there is one (those come first)
    QString description; // adapter, maker and serial number, as known
};

QList<SerialDeviceChoice> presentSerialDevices();

} // namespace quorvex
