#pragma once
// The engine of the PS11 weight stream (the Ps11Stream row).
#include "drivers/LineExchange.h"

namespace quorvex {

// Starts the stream, collects a whole valid frame, stops the stream.
QCoro::Task<QVariant> ps11Stream(LineExchange &line, const InstrumentModel &model);

} // namespace quorvex
