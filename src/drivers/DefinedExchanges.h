#pragma once
// The engines of defined instruments: a text exchange (requested or
// continuous) and one Modbus RTU transaction.
#include "drivers/LineExchange.h"

namespace quorvex {

QCoro::Task<QVariant> definedText(LineExchange &line, const InstrumentModel &model);
QCoro::Task<QVariant> modbusRtu(LineExchange &line, const InstrumentModel &model);

} // namespace quorvex
