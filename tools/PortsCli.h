#pragma once
// `quorvex ports`: the server's port objects, each configured role's
// instrument, the plant feed's and the Modbus TCP face's state, read from
// the Diagnostics interface, and the serial devices present, which
// quorvex-local lists. Looking never starts the server.
#include "Commands.h"

#include <QVariantMap>

namespace quorvex::cli {

// The table of the server's port objects, as Ports() gives them.
QString formatPorts(const QList<QVariantMap> &ports);

int runPorts(Session &session, const Request &request);

} // namespace quorvex::cli
