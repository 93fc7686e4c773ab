// quorvex-sim: runs one simulated instrument on a fresh pseudo-terminal and
// prints the slave path for the server (or a script) to open.
#include "sim/Registry.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

void printUsage(std::FILE *out)
{
    std::fprintf(out,
        "Usage: quorvex-sim <model> [options]\n"
        "       quorvex-sim --list\n"
        "\n"
        "Opens a pseudo-terminal, prints its slave path on the first line of\n"
        "stdout and simulates <model> on it until SIGINT/SIGTERM.\n"
        "\n"
        "General options:\n"
        "  --link PATH        also make PATH a symlink to the slave path\n"
        "  --stdin-exit       exit when stdin is closed\n"
        "  --drift X          change the weight by X per second (scales)\n"
        "  --pace BAUD        send at BAUD (10 bits per byte); 0 = full speed\n"
        "  --chunk N          split each transmission into writes of N bytes\n"
        "  --chunk-gap MS     pause between chunks (default 5)\n"
        "  --delay MS         answer MS milliseconds late\n"
        "  --silent           never answer\n"
        "  --noise N          N random bytes before every answer\n"
        "  --noise-text TEXT  TEXT before every answer\n"
        "  --tick MS          tick interval of continuous instruments\n"
        "Options take their value as the next argument or as --key=value.\n"
        "\n"
        "Models (see --list):\n");
    for (const auto &model : sim::models())
        std::fprintf(out, "  %-8.*s %.*s\n", static_cast<int>(model.name.size()),
                     model.name.data(), static_cast<int>(model.options.size()),
                     model.options.data());
}

void listModels()
{
    for (const auto &model : sim::models())
        std::printf("%.*s\t%.*s\n", static_cast<int>(model.name.size()), model.name.data(),
                    static_cast<int>(model.description.size()), model.description.data());
}

std::string formatNumber(double value)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (args[0] == "--list") {
        listModels();
        return 0;
    }

    auto instrument = sim::createInstrument(args[0]);
    if (!instrument) {
        std::fprintf(stderr, "quorvex-sim: unknown model '%s' (try --list)\n", args[0].c_str());
        return 2;
    }

    std::string link;
    bool stdinExit = false;
    double drift = 0.0;
    double weight = 0.0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string key = args[i];
        if (key == "--help" || key == "-h") {
            printUsage(stdout);
            return 0;
        }
        if (key.rfind("--", 0) != 0) {
            std::fprintf(stderr, "quorvex-sim: unexpected argument '%s'\n", key.c_str());
            return 2;
        }
        key.erase(0, 2);
        std::string value;
        if (auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
            value = args[++i];
        }

        bool ok = true;
        if (key == "link") {
            link = value;
            ok = !value.empty();
        } else if (key == "stdin-exit") {
            stdinExit = true;
        } else if (key == "drift") {
            ok = sim::parseDouble(value, drift);
        } else {
            ok = instrument->setOption(key, value);
            if (ok && key == "weight")
                sim::parseDouble(value, weight);
        }
        if (!ok) {
            std::fprintf(stderr, "quorvex-sim: bad option --%s '%s' for model %s\n", key.c_str(),
                         value.c_str(), args[0].c_str());
            return 2;
        }
    }
    if (drift != 0.0 && !instrument->setOption("weight", formatNumber(weight))) {
        std::fprintf(stderr, "quorvex-sim: --drift needs a model with a weight\n");
        return 2;
    }

    // Signals are taken through a signalfd; block them before the simulator
    // thread starts so it inherits the mask and never gets them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigFd < 0) {
        std::perror("quorvex-sim: signalfd");
        return 1;
    }

    try {
        instrument->start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvex-sim: %s\n", e.what());
        return 1;
    }
    const std::string path = instrument->slavePath();

    if (!link.empty()) {
        struct stat st{};
        if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "quorvex-sim: cannot link %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    for (;;) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int rc = ::poll(fds, stdinExit ? 2 : 1, drift != 0.0 ? 200 : -1);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (stdinExit && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && errno == EINTR))
                break;
        }
        if (drift != 0.0) {
            const auto now = Clock::now();
            weight += drift * std::chrono::duration<double>(now - last).count();
            last = now;
            instrument->setOption("weight", formatNumber(weight));
        }
    }

    instrument.reset();
    if (!link.empty())
        ::unlink(link.c_str());
    ::close(sigFd);
    return 0;
}
