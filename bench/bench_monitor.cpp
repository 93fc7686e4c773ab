// What the traffic monitor costs: LeggiPeso round trips through D-Bus
// against the D400 simulator with nobody watching the traffic and with a
// watcher that receives every Traffic signal, and the server's CPU time per
// call in each case. The two cases alternate in blocks so that drift of the
// machine (other builds on the same cores) falls on both alike. Then, in
// this process, the price per chunk of the port's own hook with no tap and
// with a tap that does nothing.
#include "bench/BenchServer.h"

#include "serial/PortControl.h"
#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

struct Sample {
    std::vector<double> ms;
    double cpuMs = 0;
    int calls = 0;
};

// Receives the Traffic signals, as `quorvex monitor` does.
class Watcher : public QObject {
    Q_OBJECT
public:
    long chunks = 0;
public slots:
    void onTraffic(const QDBusMessage &) { ++chunks; }
};

void timeBlock(bench::BenchServer &server, Sample &sample, int calls)
{
    const double cpu = server.cpuMs();
    const std::vector<double> ms = server.timeCalls(QStringLiteral("LeggiPeso"), {}, calls);
    sample.cpuMs += server.cpuMs() - cpu;
    sample.calls += calls;
    sample.ms.insert(sample.ms.end(), ms.begin(), ms.end());
}

void printSample(const char *label, std::vector<double> ms, const Sample &sample)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    std::printf("  %-22s median %7.3f ms  p90 %7.3f ms  server CPU %6.3f ms/call  (%d calls)\n", label, at(0.5),
                at(0.9), sample.cpuMs / sample.calls, sample.calls);
}

void roundTrips(const char *title, int baud)
{
    auto scale = sim::launch<sim::D400>();
    scale->setWeightField("   12,340");
    scale->setPacing(baud);
    bench::BenchServer server;
    server.mapPort(3, scale->slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    if (!server.start()) {
        std::printf("%s: server did not start\n", title);
        return;
    }
    Watcher watcher;
    support::connectSignal(quorvex::kDiagnosticsInterface, QStringLiteral("Traffic"), &watcher,
                           SLOT(onTraffic(QDBusMessage)));
    server.timeCalls(QStringLiteral("LeggiPeso"), {}, 20); // warm up
    Sample idle, watched;
    for (int round = 0; round < 10; ++round) {
        timeBlock(server, idle, 30);
        support::diagnostics(QStringLiteral("Watch"));
        timeBlock(server, watched, 30);
        support::diagnostics(QStringLiteral("Unwatch"));
        QCoreApplication::processEvents(); // deliver the signals to the watcher
    }
    std::printf("LeggiPeso via D-Bus, BILANCIAI D400, %s\n", title);
    printSample("nobody watching", idle.ms, idle);
    printSample("a watcher", watched.ms, watched);
    std::printf("  Traffic signals received while watched: %ld (%.1f chunks a call)\n", watcher.chunks,
                double(watcher.chunks) / watched.calls);
    std::fflush(stdout);
}

// A port whose device swallows what it is given.
class NullPort : public quorvex::PortControl {
public:
    void feed(const QByteArray &bytes) { receive(bytes); }

protected:
    bool openDevice(QString *) override { return true; }
    void closeDevice() override {}
    bool applySettings(const quorvex::LineSettings &) override { return true; }
    bool writeDevice(const QByteArray &) override { return true; }
    void discardDeviceInput() override {}
};

// The best of three runs of a million exchanges, per chunk.
double nsPerChunk(NullPort &port, const QByteArray &request, const QByteArray &reply)
{
    constexpr int n = 1'000'000;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < n; ++i) {
            port.Output(request);
            port.feed(reply);
            port.setInBufferCount(0);
        }
        best = std::min(best, double(clock.nsecsElapsed()) / n / 2);
    }
    return best;
}

void portHook()
{
    NullPort port;
    port.setPortOpen(true);
    const QByteArray request("XB\r");
    const QByteArray reply("   12,340 kg  \r");
    nsPerChunk(port, request, reply); // warm up
    const double none = nsPerChunk(port, request, reply);
    long seen = 0;
    quorvex::PortControl::setTrafficTap(
        [&](const quorvex::PortControl &, quorvex::PortControl::Direction, const QByteArray &) { ++seen; });
    const double tapped = nsPerChunk(port, request, reply);
    quorvex::PortControl::setTrafficTap({});
    const double noneAgain = nsPerChunk(port, request, reply);
    std::printf("Port object, in process, per chunk written or received (count, tap check, buffer):\n"
                "  no tap %.1f ns, again %.1f ns; with a tap that only counts %.1f ns (%ld chunks seen)\n",
                none, noneAgain, tapped, seen);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    roundTrips("simulator unpaced (software only)", 0);
    roundTrips("simulator paced at 9600 baud", 9600);
    portHook();
    return 0;
}

#include "bench_monitor.moc"
