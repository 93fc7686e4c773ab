// What a call through the command-line client costs against the same call
// through gdbus, whole processes timed side by side: a reading from a
// running server (wall time, the figure a line script waits for) and the
// start of each program alone (`--help`, CPU time). The two commands
// alternate run by run, so drift of the machine falls on both alike, and
// the ratio is taken pair by pair. The least Qt program making the same
// call shows what Qt Core and Qt D-Bus cost before any code of ours runs.
#include "bench/BenchServer.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

struct Run {
    double wallMs = 0;
    double cpuMs = 0; // user + system of the process
};

// Runs argv to its end with its output thrown away; nullopt if it cannot.
std::optional<Run> runOnce(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    timespec begin{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return std::nullopt;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return std::nullopt;
    clock_gettime(CLOCK_MONOTONIC, &end);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return Run{(end.tv_sec - begin.tv_sec) * 1000.0 + (end.tv_nsec - begin.tv_nsec) / 1e6,
               ms(usage.ru_utime) + ms(usage.ru_stime)};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs a and b in turn, runs times each after one warm-up of each, and
// prints the medians of the chosen figure and of the ratio a/b.
void sideBySide(const char *label, const std::vector<std::string> &a, const std::vector<std::string> &b, bool cpu,
                int runs = 21)
{
    if (!runOnce(a) || !runOnce(b)) {
        std::printf("%s: could not run %s or %s\n", label, a[0].c_str(), b[0].c_str());
        return;
    }
    std::vector<double> as, bs, ratios;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> ra = runOnce(a);
        const std::optional<Run> rb = runOnce(b);
        if (!ra || !rb)
            continue;
        const double fa = cpu ? ra->cpuMs : ra->wallMs;
        const double fb = cpu ? rb->cpuMs : rb->wallMs;
        as.push_back(fa);
        bs.push_back(fb);
        if (fb > 0)
            ratios.push_back(fa / fb);
    }
    const auto base = [](const std::string &path) { return path.substr(path.rfind('/') + 1); };
    std::printf("%-38s %s: %s %6.1f ms, %s %6.1f ms, ratio %.2f (median of %zu pairs)\n", label, cpu ? "cpu " : "wall",
                base(a[0]).c_str(), median(as), base(b[0]).c_str(), median(bs), median(ratios), as.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string client = QUORVEX_CLIENT_PATH;

    sideBySide("start (--help / gdbus help)", {client, "--help"}, {"gdbus", "help"}, true);
    // The floor of a start: Qt Core and Qt D-Bus loaded, nothing else done.
    sideBySide("start (least Qt caller / gdbus help)", {QT_DBUS_CALLER_PATH, "--help"}, {"gdbus", "help"}, true);

    bench::BenchServer server;
    if (!server.start()) {
        std::printf("server did not start\n");
        return 1;
    }
    // A call of this process's own holds the server between the runs (it
    // keeps the caller's instance). No instrument is configured: the server
    // answers at once, so the figures are the two clients' own costs.
    server.timeCalls(QStringLiteral("LeggiPeso"), {}, 1);
    sideBySide("LeggiPeso (quorvex / gdbus call)", {client, "LeggiPeso"},
               {"gdbus", "call", "--session", "--dest", "com.velkaro.Quorvex", "--object-path",
                "/com/velkaro/Quorvex/Global", "--method", "com.velkaro.Quorvex.Global.LeggiPeso"},
               false);
    sideBySide("LeggiPeso cpu (quorvex / gdbus)", {client, "LeggiPeso"},
               {"gdbus", "call", "--session", "--dest", "com.velkaro.Quorvex", "--object-path",
                "/com/velkaro/Quorvex/Global", "--method", "com.velkaro.Quorvex.Global.LeggiPeso"},
               true);
    // The floor: what Qt Core and Qt D-Bus cost any client of ours.
    sideBySide("LeggiPeso (least Qt caller / gdbus)", {QT_DBUS_CALLER_PATH},
               {"gdbus", "call", "--session", "--dest", "com.velkaro.Quorvex", "--object-path",
                "/com/velkaro/Quorvex/Global", "--method", "com.velkaro.Quorvex.Global.LeggiPeso"},
               false);
    sideBySide("LeggiPeso (quorvex / least Qt caller)", {client, "LeggiPeso"}, {QT_DBUS_CALLER_PATH}, false);
    return 0;
}
