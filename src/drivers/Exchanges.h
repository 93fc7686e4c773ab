#pragma once
// Runs one row of the instrument table on a port: takes the line's turn,
// then the exchange of the row's kind. The reading comes back unscaled: a
// double, a 16-bit integer (qint16) or nothing (an invalid QVariant); a
// service exchange gives a text.
#include "drivers/InstrumentModel.h"
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <QVariant>

namespace quorvex {

// Throws NotFound when there is no port, the port's error when it is not
// open and cannot be opened again (PortControl::ensureOpen), and the
// driver's errors.
QCoro::Task<QVariant> runExchange(const InstrumentModel &model, PortRef port, QString parametri = {});

} // namespace quorvex
