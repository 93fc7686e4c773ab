// Figures of the server's foundation:
//  - CPU the server uses while a read waits 2 s on a silent scale;
//  - time from the last reply byte on the line to the driver's return;
//  - round trip of LeggiPeso through D-Bus against the D400 simulator.
#include "bench/BenchServer.h"

#include "drivers/Exchanges.h"
#include "serial/SerialPort.h"
#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <pty.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

void silentWaitCpu()
{
    auto scale = sim::launch<sim::D400>();
    scale->setSilent(true);
    bench::BenchServer server;
    server.mapPort(3, scale->slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    if (!server.start()) {
        std::printf("silent wait: server did not start\n");
        return;
    }
    server.call("LeggiPeso"); // warm up: the port is open, code paged in
    const int reads = 3;
    const double cpuBefore = server.cpuMs();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < reads; ++i)
        server.call("LeggiPeso");
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    const double cpu = server.cpuMs() - cpuBefore;
    std::printf("silent-scale wait (%d reads of 2 s)          wall %8.1f ms  server CPU %6.1f ms  = %.3f%% of wall "
                "(tick 10 ms) "
                "(target < 2%%)\n",
                reads, wallMs, cpu, 100.0 * cpu / wallMs);
}

// The driver reads from a pty whose other end this thread answers; it
// notes the moment the reply's last byte was written.
void replyLatency()
{
    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    auto port = std::make_shared<quorvex::SerialPort>(QString::fromLocal8Bit(name));
    port->setPortOpen(true);

    std::atomic<bool> stop{false};
    std::atomic<Clock::rep> lastByte{0};
    std::thread answerer([&] {
        char buf[64];
        while (!stop) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(master, &set);
            timeval tv{0, 50000};
            if (select(master + 1, &set, nullptr, nullptr, &tv) <= 0)
                continue;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0 && buf[n - 1] == '\r') {
                const char reply[] = "   12,340 kg  \r";
                if (::write(master, reply, 15) == 15)
                    lastByte = Clock::now().time_since_epoch().count();
            }
        }
    });

    std::vector<double> us;
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        QEventLoop loop;
        Clock::rep returned = 0;
        auto read = [&]() -> QCoro::Task<> {
            co_await quorvex::runExchange(*quorvex::findRecipe(QStringLiteral("LeggiPeso_BILANCIAI_D400")), port);
            returned = Clock::now().time_since_epoch().count();
            loop.quit();
        };
        auto task = read();
        if (!returned)
            loop.exec();
        us.push_back(
            double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::duration(returned - lastByte.load()))
                       .count())
            / 1000.0);
    }
    stop = true;
    answerer.join();
    port->setPortOpen(false);
    ::close(slave);
    ::close(master);
    const bench::Stats s = bench::stats(std::vector<double>(us));
    std::printf("last reply byte -> driver return (%d reads)  median %8.3f ms  p99 %8.3f ms  (target: median < 1 ms)\n",
                n, s.median / 1000.0, s.p99 / 1000.0);
}

void dbusRoundTrip()
{
    auto scale = sim::launch<sim::D400>();
    scale->setWeight(12.34);
    bench::BenchServer server;
    server.mapPort(3, scale->slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    if (!server.start()) {
        std::printf("round trip: server did not start\n");
        return;
    }
    server.timeCalls("LeggiPeso", {}, 20);
    bench::printRoundTrip("LeggiPeso via D-Bus, D400 unpaced", server.timeCalls("LeggiPeso", {}, 300), 18, 9600);
    scale->setPacing(9600);
    bench::printRoundTrip("LeggiPeso via D-Bus, D400 at 9600 baud", server.timeCalls("LeggiPeso", {}, 100), 18, 9600);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    replyLatency();
    dbusRoundTrip();
    silentWaitCpu();
    return 0;
}
