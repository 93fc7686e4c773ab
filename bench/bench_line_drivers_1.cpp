// Round trips through D-Bus of one reading from each protocol simulated at
// 9600 baud: FLYTN continuous scale, CTM counter, PS11 stream, ELAP CM78.
// The wire time counts the bytes the reading needs on the line: for the
// continuous scale the window of fresh characters, for the PS11 DC1, the 21
// bytes of one attempt and DC3, for the others request and reply.
#include "bench/BenchServer.h"

#include "sim/instruments/ContinuousScale.h"
#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/Elap.h"
#include "sim/instruments/Ps11.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    {
        auto flytn = sim::launch<sim::Flytn>();
        flytn->setWeight(12.5);
        // A 12-byte frame takes 12.5 ms at 9600 baud: send back to back.
        flytn->setTickInterval(std::chrono::milliseconds(13));
        bench::roundTrip("LeggiPeso via D-Bus, EUROBIL FLYTN at 9600 baud", *flytn, "Bilancia", "EUROBIL", "FLYTN",
                         "LeggiPeso", 12);
    }
    {
        auto counter = sim::launch<sim::CtmCounter>();
        counter->setCount(1234);
        // STX P CR 3 bytes, reply 8 bytes.
        bench::roundTrip("LeggiLunghezza via D-Bus, CTM 1 at 9600 baud", *counter, "Contametri", "CTM", "1",
                         "LeggiLunghezza", 3 + 8);
    }
    {
        auto ps11 = sim::launch<sim::Ps11>();
        ps11->setWeight(1234);
        ps11->setTickInterval(std::chrono::milliseconds(13));
        bench::roundTrip("LeggiPeso via D-Bus, CTM PS11 at 9600 baud", *ps11, "Bilancia", "CTM", "PS11", "LeggiPeso",
                         1 + 21 + 1);
    }
    {
        auto cm78 = sim::launch<sim::Cm78>();
        cm78->setValue(12.345);
        // "@r01" CR 5 bytes, reply 18 bytes.
        bench::roundTrip("LeggiLunghezza via D-Bus, ELAP CM78 at 9600 baud", *cm78, "Contametri", "ELAP", "CM78",
                         "LeggiLunghezza", 5 + 18);
    }
    return 0;
}
