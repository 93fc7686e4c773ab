#pragma once
// The kinds of exchange of models defined in files: a text exchange
// (requested or continuous) and one Modbus RTU transaction.
#include "drivers/ExchangeKind.h"

namespace quorvex::exchanges {

extern const ExchangeKind definedText;
extern const ExchangeKind modbusRtu;

} // namespace quorvex::exchanges
