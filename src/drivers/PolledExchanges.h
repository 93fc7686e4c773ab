#pragma once
// The kinds of exchange several families share: a request answered once, a
// request asked again while its reply fails its check, and a command whose
// answer is not awaited.
#include "drivers/ExchangeKind.h"

namespace quorvex::exchanges {

// Write the request once, wait once for the reply.
extern const ExchangeKind request;
// Request again while the reply fails its check, `attempts` times at most.
extern const ExchangeKind requestUntilValid;
// Write and do not wait: whatever comes back is dropped.
extern const ExchangeKind command;

} // namespace quorvex::exchanges
