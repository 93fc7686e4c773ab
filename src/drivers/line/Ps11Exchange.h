#pragma once
// The PS11 weight stream: started with DC1, a whole valid binary frame
// collected, stopped with DC3.
#include "drivers/ExchangeKind.h"

namespace quorvex::exchanges {

extern const ExchangeKind ps11Stream;

} // namespace quorvex::exchanges
