#pragma once
// The engine of the MELSEC service command (the Handshake row).
#include "drivers/LineExchange.h"

namespace quorvex {

// Enquiry, acknowledgement, then the command frame parametri selects; the
// result is always the empty text.
QCoro::Task<QVariant> handshake(LineExchange &line, const InstrumentModel &model, const QString &parametri);

} // namespace quorvex
