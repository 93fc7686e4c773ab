#pragma once
// The table of drivers: every protocol's public operations by name. A
// driver reads or commands one instrument on the port it is given and
// returns the reading unscaled.
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QVariant>

namespace quorvex {

// A reading: a double, a 16-bit integer (qint16) or nothing (invalid QVariant).
using NumericDriver = QCoro::Task<QVariant> (*)(PortRef port);
// A service command: takes the parameters text, answers a text.
using TextDriver = QCoro::Task<QString> (*)(PortRef port, QString parametri);

struct DriverEntry {
    const char *name;
    NumericDriver numeric = nullptr;
    TextDriver text = nullptr;
};

// The driver of that name, compared without regard to case; null when none.
const DriverEntry *findDriver(const QString &name);

} // namespace quorvex
