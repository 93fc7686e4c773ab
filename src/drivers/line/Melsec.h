#pragma once
// MELSEC controller as the service device: one of three fixed commands
// after an enquiry handshake.
#include "drivers/DriverTable.h"

namespace quorvex {

QCoro::Task<QString> ScriviServizio_CTM_MELSEC(PortRef port, QString parametri);

} // namespace quorvex
