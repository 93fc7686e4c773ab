#pragma once
// A port reference passed by a client (MSCObj): a whole number names the
// server's own port object of that number; any other text is a device path,
// optionally followed by ":" and line settings ("/dev/ttyUSB0:9600,N,8,1"),
// opened for that one call. An empty text is no port.
#include "line/Line.h"

namespace quorvex {

struct ResolvedPort {
    PortRef port;
    bool temporary = false; // opened for this call; close it afterwards
};

// Throws NotFound for a port number without a port object and PortError
// for a device that cannot be opened or settings that are not valid.
ResolvedPort resolvePortReference(const QString &reference, Server &server);

} // namespace quorvex
