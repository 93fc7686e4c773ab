#pragma once
// Scales that transmit without being asked: EUROBIL FLYTN, PAVONE MC100,
// BMC 507 and ALFABILICI 807 (weight only).
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiPeso_EUROBIL_FLYTN(PortRef port);
QCoro::Task<QVariant> LeggiPeso_PAVONE_MC100(PortRef port);
// These two answer a variant: the weight, nothing (the scale fell silent)
// or the 16-bit integer 0 (ten windows without a marker).
QCoro::Task<QVariant> LeggiPeso_BMC_507(PortRef port);
QCoro::Task<QVariant> LeggiPeso_ALFABILICI_807(PortRef port);

} // namespace quorvex
