#pragma once
// A port reference passed by a client (MSCObj): a whole number names the
// server's own port object of that number; any other text is a device path,
// optionally followed by ":" and line settings ("/dev/ttyUSB0:9600,N,8,1").
// An empty text is no port.
//
// Throws InvalidArgument for a text longer than kMaxPortReferenceBytes, and
// the invalid-settings error (380) for line settings that do not parse.
#include <QString>
#include <optional>

namespace quorvex {

struct PortReference {
    std::optional<int> number; // a port number of the server
    QString devicePath; // otherwise a device, opened for one call
    QString settings; // its line settings, when given
    bool isEmpty() const { return !number && devicePath.isEmpty(); }
};

inline constexpr int kMaxPortReferenceBytes = 4096; // the longest device path

PortReference parsePortReference(const QString &text);

} // namespace quorvex
