#pragma once
// The scales that transmit on their own: nothing is written, the recipe's
// marker is looked for in up to `attempts` windows of the stream and the
// field after it is read.
#include "drivers/ExchangeKind.h"

namespace quorvex::exchanges {

extern const ExchangeKind streamWindow;

} // namespace quorvex::exchanges
