#pragma once
// The MELSEC service command: enquiry, acknowledgement, then the command
// frame the parameters select; the result is always the empty text.
#include "drivers/ExchangeKind.h"

namespace quorvex::exchanges {

extern const ExchangeKind handshake;

} // namespace quorvex::exchanges
