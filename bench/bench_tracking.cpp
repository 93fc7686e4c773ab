// Height tracking under way: the sampler's ticks a second and the server's
// CPU over 10 s with the counter and the height sensor simulated at 9600 and
// at 38400 baud, the counter running at 100 counts a second (a sample every
// other tick); then the round trip of a client's LeggiPeso on a scale on
// another port, with the sampler running and with height tracking off.
#include "bench/BenchServer.h"

#include "sim/instruments/CtmCounter.h"
#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// A counter that counts one more every simulator tick.
class RunningCounter : public sim::CtmCounter {
protected:
    void onTick() override { setCount((count() + 1) % 100000); }
};

struct Line {
    sim::Handle<RunningCounter> counter = sim::launch<RunningCounter>();
    sim::Handle<sim::CtmCounter> sensor = sim::launch<sim::CtmCounter>();
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();

    explicit Line(int baud)
    {
        for (sim::Instrument *i :
             {static_cast<sim::Instrument *>(counter.get()), static_cast<sim::Instrument *>(sensor.get()),
              static_cast<sim::Instrument *>(scale.get())})
            i->setPacing(baud);
        counter->setTickInterval(10ms);
        sensor->setCount(250);
        scale->setWeightField("   12,500");
    }

    void configure(bench::BenchServer &server, int baud, bool tracking)
    {
        const QString settings = QStringLiteral("%1,N,8,1").arg(baud);
        server.mapPort(3, counter->slavePath());
        server.mapPort(4, sensor->slavePath());
        server.mapPort(5, scale->slavePath());
        server.configureRole("Contametri", "CTM", "1", 3, QString(), settings);
        server.configureRole("Altezza", "CTM", "1", 4, QString(), settings);
        server.configureRole("Bilancia", "BILANCIAI", "D400", 5, QString(), settings);
        server.setSetting("Altezza", "MisuraMedia", tracking ? "true" : "false");
        server.setSetting("Altezza", "IntervalloDiCampionamento", "10");
        server.setSetting("Altezza", "DistanzaSensoreArrotolatore", "30");
    }
};

void sleepMs(int ms)
{
    QThread::msleep(ms);
}

void ticksAndCpu(int baud)
{
    Line line(baud);
    bench::BenchServer server;
    line.configure(server, baud, true);
    if (!server.start()) {
        std::printf("%d baud: server did not start\n", baud);
        return;
    }
    sleepMs(1000); // the sampler under way
    const int reads0 = line.counter->readRequests();
    const int samples0 = line.sensor->readRequests();
    const double cpu0 = server.cpuMs();
    sleepMs(10000);
    const double ticks = (line.counter->readRequests() - reads0) / 10.0;
    const double samples = (line.sensor->readRequests() - samples0) / 10.0;
    const double cpu = (server.cpuMs() - cpu0) / 10000.0 * 100.0;
    std::printf("sampler at %5d baud: %5.1f ticks/s, %5.1f samples/s, server CPU %5.2f%% of one core over 10 s\n", baud,
                ticks, samples, cpu);
    std::fflush(stdout);
}

struct Figures {
    double median = 0, p90 = 0;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return {};
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 9 / 10)]};
}

Figures weightRoundTrip(bool tracking, int calls)
{
    const int baud = 9600;
    Line line(baud);
    bench::BenchServer server;
    line.configure(server, baud, tracking);
    if (!server.start())
        return {-1, -1};
    sleepMs(500);
    server.timeCalls("LeggiPeso", {}, 10); // warm up
    const int reads0 = line.counter->readRequests();
    const Figures f = figures(server.timeCalls("LeggiPeso", {}, calls));
    if (tracking && line.counter->readRequests() == reads0)
        std::printf("warning: the sampler did not run during the calls\n");
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (int baud : {9600, 38400})
        ticksAndCpu(baud);

    const int calls = 200;
    const Figures off = weightRoundTrip(false, calls);
    const Figures on = weightRoundTrip(true, calls);
    std::printf("LeggiPeso, D400 at 9600 baud on its own port, %d calls:\n", calls);
    std::printf("  height tracking off:      median %6.2f ms  p90 %6.2f ms\n", off.median, off.p90);
    std::printf("  sampler running (9600):   median %6.2f ms  p90 %6.2f ms  (median %+.1f%%)\n", on.median, on.p90,
                off.median > 0 ? (on.median / off.median - 1) * 100 : 0.0);
    return 0;
}
