#pragma once
// ELAP counters CM78 and CM78A: length, the same reading as a weight, and
// zeroing.
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QVariant> LeggiLunghezza_ELAP_CM78(PortRef port);
QCoro::Task<QVariant> LeggiLunghezza_ELAP_CM78A(PortRef port);
QCoro::Task<QVariant> LeggiPeso_ELAP_CM78(PortRef port);
QCoro::Task<QVariant> LeggiPeso_ELAP_CM78A(PortRef port);
QCoro::Task<QVariant> AzzeraLunghezza_ELAP_CM78(PortRef port);
QCoro::Task<QVariant> AzzeraLunghezza_ELAP_CM78A(PortRef port);

} // namespace quorvex
