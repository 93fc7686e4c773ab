#pragma once
// CTM counter model 1: length (and the same reading as height) and zeroing.
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiLunghezza_CTM_1(PortRef port);
QCoro::Task<QVariant> LeggiAltezza_CTM_1(PortRef port);
QCoro::Task<QVariant> AzzeraLunghezza_CTM_1(PortRef port);

} // namespace quorvex
