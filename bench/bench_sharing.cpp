// Sharing the line: what a one-shot client pays for activation, how N
// clients on one port queue, and how two ports run side by side.
//  - one-shot call: a new connection calls LeggiPeso, the bus activates the
//    server, and the server ends when the connection goes; median and p90,
//    and the ratio to the same call on a held connection;
//  - N clients on one port: total time over N times one exchange (goal 1.1);
//  - two ports in parallel: total time over the slower port alone (goal 1.1);
//  - a silent D400 with 1, 8 and 32 clients at once: the last answer (goal
//    at most two time-outs + 0.5 s, however many clients wait);
//  - a live D400 at 9600 baud read by 8 clients at once: requests on the
//    wire (goal at most 3) and the last answer in exchange times (goal 3);
//  - the server's CPU per reading, D400 unpaced, and the D-Bus reading at
//    9600 baud against the wire time of its bytes.
#include "bench/BenchServer.h"

#include "sim/instruments/D400.h"

#include <QCoreApplication>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

bool serverGone()
{
    return !support::ServerProcess::serviceRegistered();
}

void waitFor(const std::function<bool()> &done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
}

// Total ms for all the calls, sent at once, each from a connection of its own.
double concurrently(const std::vector<std::pair<QString, QVariantList>> &calls)
{
    std::vector<QDBusConnection> connections;
    std::vector<QDBusPendingCall> pending;
    QElapsedTimer t;
    for (size_t i = 0; i < calls.size(); ++i)
        connections.push_back(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("c%1").arg(i)));
    t.start();
    for (size_t i = 0; i < calls.size(); ++i)
        pending.push_back(support::asyncCall(connections[i], calls[i].first, calls[i].second));
    waitFor([&] { return std::all_of(pending.begin(), pending.end(), [](auto &c) { return c.isFinished(); }); }, 60000);
    const double total = double(t.nsecsElapsed()) / 1e6;
    for (size_t i = 0; i < calls.size(); ++i)
        QDBusConnection::disconnectFromBus(QStringLiteral("c%1").arg(i));
    return total;
}

void oneShot(sim::D400 &scale)
{
    bench::BenchServer config;
    config.mapPort(3, scale.slavePath());
    config.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    config.setActivationEnvironment();

    std::vector<double> shots;
    int failed = 0;
    for (int i = 0; i < 30; ++i) {
        waitFor(serverGone);
        const QString name = QStringLiteral("shot%1").arg(i);
        QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        QElapsedTimer t;
        t.start();
        const QDBusMessage reply = support::ServerProcess::callOn(client, QStringLiteral("LeggiPeso"));
        shots.push_back(double(t.nsecsElapsed()) / 1e6);
        failed += reply.type() != QDBusMessage::ReplyMessage || reply.arguments().value(0).toDouble() != 12.5;
        QDBusConnection::disconnectFromBus(name);
    }
    waitFor(serverGone);

    bench::BenchServer held;
    held.mapPort(3, scale.slavePath());
    held.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    held.start();
    held.timeCalls("LeggiPeso", {}, 5);
    const bench::Stats heldStats = bench::stats(held.timeCalls("LeggiPeso", {}, 50));
    const double median = percentile(shots, 0.5);
    std::printf("one-shot LeggiPeso (activation to reply): median %.1f ms, p90 %.1f ms, %d wrong or failed;"
                " held connection median %.2f ms; ratio %.0f\n",
                median, percentile(shots, 0.9), failed, heldStats.median, median / heldStats.median);
}

void queues(sim::D400 &scale, sim::D400 &other)
{
    scale.setReplyDelay(100ms);
    other.setReplyDelay(100ms);
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.mapPort(4, other.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    server.configureRole("Servizio", "", "", 4);
    server.start();
    server.timeCalls("LeggiPeso", {}, 3);
    const double one = bench::stats(server.timeCalls("LeggiPeso", {}, 10)).median;
    const int n = 8;
    std::vector<std::pair<QString, QVariantList>> same(n, {QStringLiteral("LeggiPeso"), {}});
    const double total = concurrently(same);
    std::printf("%d clients on one port (exchange %.1f ms): total %.1f ms, ratio to %d exchanges %.3f\n", n, one, total,
                n, total / (n * one));

    std::vector<std::pair<QString, QVariantList>> onFour(
        n, {QStringLiteral("LeggiPeso_BILANCIAI_D400"), {QStringLiteral("4")}});
    const double slower = std::max(concurrently(same), concurrently(onFour));
    std::vector<std::pair<QString, QVariantList>> both = same;
    both.insert(both.end(), onFour.begin(), onFour.end());
    const double parallel = concurrently(both);
    std::printf("two ports, %d calls each, at once: total %.1f ms, slower port alone %.1f ms, ratio %.3f\n", n,
                parallel, slower, parallel / slower);
}

// Requests the server has written to port 3, counted by its bytes out.
qulonglong requestsWritten(int requestBytes)
{
    return support::portInfo(3).value(QStringLiteral("bytesOut")).toULongLong() / qulonglong(requestBytes);
}

void silentScale(sim::D400 &scale)
{
    scale.setSilent(true);
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    server.start();
    server.call(QStringLiteral("LeggiPeso")); // an instance of our own keeps the server up
    for (int n : {1, 8, 32}) {
        const std::vector<std::pair<QString, QVariantList>> calls(size_t(n), {QStringLiteral("LeggiPeso"), {}});
        std::printf("silent D400 (time-out 2 s), %2d clients at once: last answer %.0f ms (goal <= 4500)\n", n,
                    concurrently(calls));
        std::fflush(stdout);
    }
    scale.setSilent(false);
}

// One exchange written straight to the simulator's pty, no server: the
// floor a D-Bus reading is compared with. Median of n, in ms.
double directExchangeMs(sim::D400 &scale, int n)
{
    const int fd = ::open(scale.slavePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 0;
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        if (::write(fd, "XB\r", 3) != 3)
            break;
        char reply[15];
        for (size_t got = 0; got < sizeof reply;) {
            const ssize_t r = ::read(fd, reply + got, sizeof reply - got);
            if (r <= 0)
                break;
            got += size_t(r);
        }
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    ::close(fd);
    return percentile(ms, 0.5);
}

void liveScale(sim::D400 &scale)
{
    scale.setReplyDelay(0ms);
    scale.setPacing(9600);
    const double direct = directExchangeMs(scale, 50);
    scale.setPacing(0);
    bench::BenchServer server;
    server.mapPort(3, scale.slavePath());
    server.configureRole("Bilancia", "BILANCIAI", "D400", 3);
    server.start();
    server.timeCalls("LeggiPeso", {}, 20);
    const double cpu = server.cpuMs();
    const int calls = 300;
    server.timeCalls("LeggiPeso", {}, calls);
    std::printf("server CPU per reading, D400 unpaced: %.3f ms\n", (server.cpuMs() - cpu) / calls);

    scale.setPacing(9600);
    const double one = bench::stats(server.timeCalls("LeggiPeso", {}, 20)).median;
    const std::vector<double> viaBus = server.timeCalls("LeggiPeso", {}, 100);
    bench::printRoundTrip("LeggiPeso via D-Bus, D400 at 9600 baud", viaBus, 18, 9600);
    std::printf("D-Bus reading at 9600 baud %.2f ms against the same exchange straight on the pty %.2f ms: %.2fx\n",
                bench::stats(viaBus).median, direct, bench::stats(viaBus).median / direct);
    const int n = 8;
    const qulonglong before = requestsWritten(3);
    const double last =
        concurrently(std::vector<std::pair<QString, QVariantList>>(n, {QStringLiteral("LeggiPeso"), {}}));
    std::printf("live D400 at 9600 baud, %d clients at once: %llu exchanges on the wire (goal <= 3),"
                " last answer %.1f ms = %.2f exchange times (goal <= 3)\n",
                n, requestsWritten(3) - before, last, last / one);
    scale.setPacing(0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    sim::Handle<sim::D400> other = sim::launch<sim::D400>();
    scale->setWeightField("   12,500");
    other->setWeightField("    7,000");
    oneShot(*scale);
    queues(*scale, *other);
    liveScale(*scale);
    silentScale(*scale);
    return 0;
}
