#pragma once
// CTM PS11 weight stream.
#include "drivers/DriverTable.h"

namespace quorvex {

// The weight of the first valid frame within ten attempts, else 0. The
// stream is always stopped (DC3) before a value is returned.
QCoro::Task<QVariant> LeggiPeso_CTM_PS11(PortRef port);

} // namespace quorvex
