#pragma once
// Scales that answer a request: BILANCIAI D400 (weight and tare) and
// EUROBIL BC100M (weight).
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiPeso_BILANCIAI_D400(PortRef port);
QCoro::Task<QVariant> LeggiTara_BILANCIAI_D400(PortRef port);
QCoro::Task<QVariant> LeggiPeso_EUROBIL_BC100M(PortRef port);

} // namespace quorvex
