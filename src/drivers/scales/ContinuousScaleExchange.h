#pragma once
// The engine of the scales that transmit on their own (StreamWindow rows).
#include "drivers/LineExchange.h"

namespace quorvex {

// Nothing written: looks for the row's marker in up to `attempts` windows
// of the stream and reads the field after it.
QCoro::Task<QVariant> streamWindow(LineExchange &line, const InstrumentModel &model);

} // namespace quorvex
