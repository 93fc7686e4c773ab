// Round trips through D-Bus of one exchange with each line instrument
// simulated at 9600 baud: RLC length, PROFACE weight, MELSEC command "1".
// The wire time counts request and reply bytes (and, for MELSEC, the
// handshake and the controller's answer to the frame). The simulators pace
// only what they send, so the server's own bytes cost no line time here and
// a ratio below 1 is expected.
#include "bench/BenchServer.h"

#include "sim/instruments/Melsec.h"
#include "sim/instruments/Proface.h"
#include "sim/instruments/Rlc1.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

constexpr int kBaud = 9600;
constexpr int kCalls = 100;

template<class Instrument>
void roundTrip(const char *label, Instrument &instrument, const QString &group, const QString &brand,
               const QString &model, const QString &method, const QVariantList &args, int wireBytes)
{
    instrument.setPacing(kBaud);
    bench::BenchServer server;
    server.mapPort(3, instrument.slavePath());
    server.configureRole(group, brand, model, 3);
    if (!server.start()) {
        std::printf("%s: server did not start\n", label);
        return;
    }
    server.timeCalls(method, args, 5); // warm up
    bench::printRoundTrip(label, server.timeCalls(method, args, kCalls), wireBytes, kBaud);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    {
        auto rlc = sim::launch<sim::Rlc1>();
        rlc->setLength(0x4D2);
        // "<0161>" 6 bytes, status reply 22 bytes.
        roundTrip("LeggiLunghezza via D-Bus, RLC 1 at 9600 baud", *rlc, "Contametri", "RLC", "1",
                  "LeggiLunghezza", {}, 6 + 22);
    }
    {
        auto proface = sim::launch<sim::Proface>();
        proface->setWeight(1234);
        // "@2" CR 3 bytes, reply 9 bytes.
        roundTrip("LeggiPeso via D-Bus, COMAR PROFACE at 9600 baud", *proface, "Bilancia", "COMAR", "PROFACE",
                  "LeggiPeso", {}, 3 + 9);
    }
    {
        auto plc = sim::launch<sim::Melsec>();
        // ENQ, ACK, 9-byte frame, ACK.
        roundTrip("ScriviServizio(\"1\") via D-Bus, MELSEC at 9600 baud", *plc, "Servizio", "CTM", "MELSEC",
                  "ScriviServizio", {QStringLiteral("1")}, 1 + 1 + 9 + 1);
    }
    return 0;
}
