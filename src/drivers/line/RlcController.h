#pragma once
// RLC controller, model "1": length and weight from one status reply, and
// the zero of the length counter.
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiLunghezza_RLC_1(PortRef port);
QCoro::Task<QVariant> LeggiPeso_RLC_1(PortRef port);
QCoro::Task<QVariant> AzzeraLunghezza_RLC_1(PortRef port);

} // namespace quorvex
