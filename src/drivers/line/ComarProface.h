#pragma once
// COMAR PROFACE: weight and length as binary readings, and the zero of the
// length counter.
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiPeso_COMAR_PROFACE(PortRef port);
QCoro::Task<QVariant> LeggiLunghezza_COMAR_PROFACE(PortRef port);
QCoro::Task<QVariant> AzzeraLunghezza_COMAR_PROFACE(PortRef port);

} // namespace quorvex
