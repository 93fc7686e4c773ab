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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    {
        auto rlc = sim::launch<sim::Rlc1>();
        rlc->setLength(0x4D2);
        // "<0161>" 6 bytes, status reply 22 bytes.
        bench::roundTrip("LeggiLunghezza via D-Bus, RLC 1 at 9600 baud", *rlc, "Contametri", "RLC", "1",
                         "LeggiLunghezza", {}, 6 + 22);
    }
    {
        auto proface = sim::launch<sim::Proface>();
        proface->setWeight(1234);
        // "@2" CR 3 bytes, reply 9 bytes.
        bench::roundTrip("LeggiPeso via D-Bus, COMAR PROFACE at 9600 baud", *proface, "Bilancia", "COMAR", "PROFACE",
                         "LeggiPeso", {}, 3 + 9);
    }
    {
        auto plc = sim::launch<sim::Melsec>();
        // ENQ, ACK, 9-byte frame, ACK.
        bench::roundTrip("ScriviServizio(\"1\") via D-Bus, MELSEC at 9600 baud", *plc, "Servizio", "CTM", "MELSEC",
                         "ScriviServizio", {QStringLiteral("1")}, 1 + 1 + 9 + 1);
    }
    return 0;
}
