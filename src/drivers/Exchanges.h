#pragma once
// Runs one row of the instrument table on a port: waits for the line's turn
// (at most the row's time-out; past it the call ends as the row ends on
// silence, nothing written), then the exchange of the row's kind. A read
// that finds an identical read queued on the port joins it (SharedReads.h).
// The reading comes back unscaled: a double, a 16-bit integer (qint16) or
// nothing (an invalid QVariant); a service exchange gives a text.
#include "drivers/InstrumentModel.h"
#include "serial/PortControl.h"

#include <QCoro/QCoroTask>
#include <QVariant>

namespace quorvex {

// Throws NotFound when there is no port, the port's error when it is not
// open and cannot be opened again (PortControl::ensureOpen), and the
// driver's errors. role names who asked in the line's health messages.
// problem, when given, is set to why the exchange gave no reading (silence,
// a stream without its marker, replies that failed their check, no turn),
// or cleared; it must outlive the call.
QCoro::Task<QVariant> runExchange(const Recipe &recipe, PortRef port, QString parametri = {}, QString role = {},
                                  QString *problem = nullptr);

} // namespace quorvex
