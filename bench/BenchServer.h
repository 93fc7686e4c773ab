#pragma once
// Benchmark support: the server process on the current (private) session
// bus with a settings file of its own (tests/support), timed calls, and
// figures printed as median and 99th percentile.
#include "tests/support/ServerProcess.h"

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// The server process the end-to-end tests use, with what the figures need.
class BenchServer : public support::ServerProcess {
public:
    // Starts quorvexd and waits until it owns its bus name; false on failure.
    bool start() { return ServerProcess::start().isEmpty(); }
    // CPU time (user + system) the server process has used so far, in ms.
    double cpuMs() const;
    // The server process's resident set, in MB.
    double rssMb() const;

    // Times n calls; returns their durations in ms.
    std::vector<double> timeCalls(const QString &method, const QVariantList &args, int n);
};

struct Stats {
    double median = 0;
    double p99 = 0;
};
Stats stats(std::vector<double> values);

// Wire time at the given baud rate of the bytes of one exchange, in ms
// (ten bits a byte: start, eight data, stop).
inline double wireMs(int bytes, int baud)
{
    return bytes * 10.0 * 1000.0 / baud;
}

// One line of figures: label, median, p99, and the wire time with the ratio.
void printRoundTrip(const char *label, const std::vector<double> &ms, int wireBytes, int baud);

// Paces the simulator at baud, puts it on the server's port 3 in the given
// role, starts the server and prints the round trip of calls of method.
template<class Instrument>
void roundTrip(const char *label, Instrument &instrument, const QString &group, const QString &brand,
               const QString &model, const QString &method, const QVariantList &args, int wireBytes, int baud = 9600,
               int calls = 100)
{
    instrument.setPacing(baud);
    BenchServer server;
    server.mapPort(3, instrument.slavePath());
    server.configureRole(group, brand, model, 3);
    if (!server.start()) {
        std::printf("%s: server did not start\n", label);
        return;
    }
    server.timeCalls(method, args, 5); // warm up
    printRoundTrip(label, server.timeCalls(method, args, calls), wireBytes, baud);
}

template<class Instrument>
void roundTrip(const char *label, Instrument &instrument, const QString &group, const QString &brand,
               const QString &model, const QString &method, int wireBytes)
{
    roundTrip(label, instrument, group, brand, model, method, {}, wireBytes);
}

} // namespace bench
