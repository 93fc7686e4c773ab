// The plant feed's cost to the line:
//  - the LeggiPeso round trip with the feed off, on with the broker
//    reachable, on with the broker stopped (connection refused), on with a
//    local listener that accepts and never answers and on with one whose
//    accept queue is full (goal: within 2 % of off). Every address is
//    127.0.0.1;
//  - the server's CPU per published reading: the CPU of the same calls with
//    the feed on less that with it off, over the readings the broker got
//    (noisy: a handful of readings a second), and, measured in this process
//    on the feed's own code against the same broker, the CPU of a reading
//    taken (kept for the next publication) and of a reading published
//    (payload made and handed to the socket).
#include "bench/BenchServer.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/SilentPeers.h"

#include "feed/MqttClient.h"
#include "feed/PlantFeed.h"
#include "sim/instruments/D400.h"

#include <QDateTime>

#include <cstdio>
#include <ctime>

namespace {

enum class Mode { Off, Reachable, Stopped, Mute, Unaccepting };

struct Run {
    bench::Stats roundTrip;
    double cpuMs = 0;
    int published = 0;
};

Run measure(sim::D400 &scale, Mode mode, int brokerPort, int calls)
{
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    if (mode != Mode::Off) {
        server.setSetting("Impianto", "Server", "127.0.0.1");
        server.setSetting("Impianto", "Porta", QString::number(brokerPort));
        server.setSetting("Impianto", "Linea", "bench");
    }
    Run run;
    if (!server.start())
        return run;
    mqtt::Subscriber sub(brokerPort, QStringLiteral("quorvex/bench/letture/#"));
    if (mode == Mode::Reachable)
        support::waitUntil([&] { return false; }, 500); // connected and subscribed
    server.timeCalls(QStringLiteral("LeggiPeso"), {}, 5);
    const double cpuBefore = server.cpuMs();
    run.roundTrip = bench::stats(server.timeCalls(QStringLiteral("LeggiPeso"), {}, calls));
    run.cpuMs = server.cpuMs() - cpuBefore;
    support::waitUntil([&] { return false; }, 700); // the last reading waiting goes out
    run.published = int(sub.messages().size());
    return run;
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The feed's own code in this process, against the broker.
void feedCodePath(mqtt::Broker &broker)
{
    using namespace quorvex;
    const int n = 20000;
    PlantFeed feed(nullptr);
    FeedSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = broker.port();
    settings.line = QStringLiteral("bench");
    feed.configure(settings);
    if (!support::waitUntil([&] { return feed.status().value("state").toString() == "connected"; })) {
        std::printf("feed code path: not connected\n");
        return;
    }
    double start = processCpuMs();
    for (int i = 0; i < n; ++i)
        feed.takeReading(Role::Bilancia, RoleOperation::LeggiPeso, i);
    const double taken = (processCpuMs() - start) / n;

    MqttClient client;
    MqttEndpoint endpoint;
    endpoint.brokers = {{QStringLiteral("127.0.0.1"), broker.port()}};
    endpoint.clientId = "bench-publisher";
    client.start(endpoint);
    support::waitUntil([&] { return client.isConnected(); });
    start = processCpuMs();
    for (int i = 0; i < n; ++i) {
        client.publish("quorvex/bench/letture/Bilancia",
                       PlantFeed::readingPayload(i, RoleOperation::LeggiPeso, QDateTime::currentMSecsSinceEpoch()), 0,
                       false);
        if (i % 100 == 0)
            QCoreApplication::processEvents(); // the socket drains as it would between readings
    }
    const double published = (processCpuMs() - start) / n;
    std::printf("Feed code, %d readings each: CPU per reading taken %.4f ms, per reading published %.4f ms\n", n, taken,
                published);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    auto scale = sim::launch<sim::D400>();
    scale->setPacing(9600);
    scale->setWeightField("   12,340");
    mqtt::Broker broker;
    if (!broker.start()) {
        std::printf("bench_feed: mosquitto did not start\n");
        return 1;
    }
    feedCodePath(broker);
    const int calls = 300;
    const Run off = measure(*scale, Mode::Off, broker.port(), calls);
    const Run on = measure(*scale, Mode::Reachable, broker.port(), calls);
    broker.stop();
    const Run stopped = measure(*scale, Mode::Stopped, broker.port(), calls);
    peers::MuteListener mute;
    const Run silent = measure(*scale, Mode::Mute, mute.port(), calls);
    peers::FullBacklog unaccepting;
    if (unaccepting.port() == 0) {
        std::printf("bench_feed: no local listener for the full-backlog case\n");
        return 1;
    }
    const Run full = measure(*scale, Mode::Unaccepting, unaccepting.port(), calls);

    std::printf("LeggiPeso round trip, D400 at 9600 baud, %d calls (median, p99; ratio of medians to off)\n", calls);
    const auto line = [&](const char *label, const Run &r) {
        std::printf("  %-40s median %7.2f ms  p99 %7.2f ms  %+.2f %%  server CPU %6.1f ms\n", label, r.roundTrip.median,
                    r.roundTrip.p99, (r.roundTrip.median / off.roundTrip.median - 1) * 100, r.cpuMs);
    };
    line("feed off", off);
    line("feed on, broker reachable", on);
    line("feed on, broker stopped (refused)", stopped);
    line("feed on, broker accepts, never answers", silent);
    line("feed on, broker never accepts", full);
    if (on.published > 0)
        std::printf("Published readings: %d of %d taken; server CPU (on - off) per published reading %.3f ms, "
                    "per reading taken %.4f ms\n",
                    on.published, calls, (on.cpuMs - off.cpuMs) / on.published, (on.cpuMs - off.cpuMs) / calls);
    else
        std::printf("Published readings: none arrived\n");
    return 0;
}
