// quorvex-sim: runs one simulated instrument on a fresh pseudo-terminal (or
// on a real serial device, for commissioning) and prints the path for the
// server (or a script) to open. Commands on standard input change its
// values while it runs.
#include "sim/Console.h"
#include "sim/Registry.h"
#include "sim/Replay.h"
#include "sim/SerialDevice.h"
#include "sim/defined/ServeDefinition.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "unknown"
#endif

namespace {

constexpr int kExitUsage = 2;

struct Options {
    std::string link;
    std::string device;
    std::string settings = "9600,N,8,1";
    bool stdinExit = false;
    bool verbose = false;
    double drift = 0.0;
    double weight = 0.0;
};

void printUsage(std::FILE *out)
{
    std::fprintf(out,
                 "Usage: quorvex-sim <model> [options]\n"
                 "       quorvex-sim --definition FILE [options]\n"
                 "       quorvex-sim --replay FILE [--port N] [--loop] [options]\n"
                 "       quorvex-sim --list | --help | --version\n"
                 "\n"
                 "Opens a pseudo-terminal (or the --device), prints its path on the first\n"
                 "line of stdout and simulates <model> on it until SIGINT/SIGTERM. Lines on\n"
                 "stdin are commands that change the simulator while it runs (\"help\"\n"
                 "lists them).\n"
                 "\n"
                 "--definition FILE serves the instrument an instrument definition file\n"
                 "describes: a text one answers its Esempio (console: number TEXT), a Modbus\n"
                 "RTU one is a Qt Serial Bus server (console: OPERATION VALUE).\n"
                 "\n"
                 "General options:\n"
                 "  --device PATH      serve on this serial device instead of a pty\n"
                 "  --settings TEXT    line settings of the device (default 9600,N,8,1)\n"
                 "  --verbose          print every transfer on the line to stderr\n"
                 "  --link PATH        also make PATH a symlink to the path\n"
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
                 "  --line SETTINGS    answer only while the pty is set to SETTINGS\n"
                 "                     (\"19200,N,8,1\"); framing garbage otherwise\n"
                 "Options take their value as the next argument or as --key=value.\n"
                 "\n"
                 "--replay plays the instrument's side of a capture made with\n"
                 "'quorvex monitor --save' (of port N, else of the first port in it):\n"
                 "a recorded request gets the next recorded answer to it, unasked bytes\n"
                 "are played with their recorded timing; --loop starts over at the end.\n"
                 "\n"
                 "Models (see --list):\n");
    for (const auto &model : sim::models())
        std::fprintf(out, "  %-8.*s %.*s\n", static_cast<int>(model.name.size()), model.name.data(),
                     static_cast<int>(model.options.size()), model.options.data());
}

void listModels()
{
    for (const auto &model : sim::models())
        std::printf("%.*s\t%.*s\n", static_cast<int>(model.name.size()), model.name.data(),
                    static_cast<int>(model.description.size()), model.description.data());
}

const sim::ModelInfo *findModel(const std::string &name)
{
    for (const auto &model : sim::models())
        if (model.name == name)
            return &model;
    return nullptr;
}

// One option: the program's own, else the instrument's.
bool applyOption(Options &options, sim::Instrument &instrument, const std::string &key, const std::string &value)
{
    if (key == "link" || key == "device" || key == "settings") {
        (key == "link" ? options.link : key == "device" ? options.device : options.settings) = value;
        return !value.empty();
    }
    if (key == "stdin-exit" || key == "verbose") {
        (key == "verbose" ? options.verbose : options.stdinExit) = true;
        return value.empty();
    }
    if (key == "drift")
        return sim::parseDouble(value, options.drift);
    if (!instrument.setOption(key, value))
        return false;
    if (key == "weight")
        sim::parseDouble(value, options.weight);
    return true;
}

// Reads the options after the model name. Returns an exit status when the
// program is to end at once (help, a bad option), nothing to go on.
std::optional<int> parseOptions(const std::vector<std::string> &args, Options &options, sim::Instrument &instrument)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string key = args[i];
        if (key == "--help" || key == "-h") {
            printUsage(stdout);
            return 0;
        }
        if (key == "--version") {
            std::printf("quorvex-sim %s\n", QUORVEX_VERSION);
            return 0;
        }
        if (key.rfind("--", 0) != 0) {
            std::fprintf(stderr, "quorvex-sim: unexpected argument '%s'\n", key.c_str());
            return kExitUsage;
        }
        key.erase(0, 2);
        std::string value;
        if (auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else if (key != "verbose" && key != "stdin-exit" && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
            value = args[++i];
        }
        if (!applyOption(options, instrument, key, value)) {
            std::fprintf(stderr, "quorvex-sim: bad option --%s '%s' for model %s\n", key.c_str(), value.c_str(),
                         args[0].c_str());
            return kExitUsage;
        }
    }
    if (options.drift != 0.0 && !instrument.setOption("weight", sim::formatNumber(options.weight))) {
        std::fprintf(stderr, "quorvex-sim: --drift needs a model with a weight\n");
        return kExitUsage;
    }
    return std::nullopt;
}

// SIGINT and SIGTERM are taken through a signalfd; they are blocked before
// the simulator thread starts so it inherits the mask and never gets them.
int blockSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background of a terminal: reading stdin then fails
    // instead of stopping the process.
    std::signal(SIGTTIN, SIG_IGN);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Opens the line (a pty, or the device), starts the instrument and makes the
// link. Returns false after printing why it could not.
bool startInstrument(sim::Instrument &instrument, const Options &options)
{
    try {
        if (!options.device.empty())
            instrument.useLink(std::make_unique<sim::SerialDevice>(options.device, options.settings));
        instrument.start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvex-sim: %s\n", e.what());
        return false;
    }
    if (options.link.empty())
        return true;
    struct stat st {};
    if (::lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(options.link.c_str());
    if (::symlink(instrument.slavePath().c_str(), options.link.c_str()) != 0) {
        std::fprintf(stderr, "quorvex-sim: cannot link %s: %s\n", options.link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Serves until a signal, "quit", or the end of stdin with --stdin-exit.
void serve(sim::Console &console, int sigFd, bool stdinExit)
{
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    bool readStdin = true;
    while (!console.quitRequested()) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int rc = ::poll(fds, readStdin ? 2 : 1, console.drifting() ? 200 : -1);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (readStdin && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0)
                console.feed(std::string_view(buf, static_cast<std::size_t>(n)));
            else if (!(n < 0 && errno == EINTR)) {
                readStdin = false; // end of input, or a terminal we are in the background of
                if (stdinExit)
                    break;
            }
        }
        const auto now = Clock::now();
        console.advanceDrift(std::chrono::duration<double>(now - last).count());
        last = now;
    }
}

// `--replay FILE [--port N] [--loop]` and the general options: the replay
// instrument, with args left as the general options after a stand-in name.
sim::Handle<sim::Instrument> makeReplay(std::vector<std::string> &args, int &status)
{
    std::string file;
    long long port = -1;
    bool loop = false;
    std::vector<std::string> rest{"replay"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--replay" && hasValue)
            file = args[++i];
        else if (arg == "--port" && hasValue && sim::parseInt(args[i + 1], port) && port >= 0)
            ++i;
        else if (arg == "--loop")
            loop = true;
        else if (arg == "--replay" || arg == "--port") {
            std::fprintf(stderr, "quorvex-sim: %s needs a %s\n", arg.c_str(), arg == "--port" ? "port number" : "file");
            status = kExitUsage;
            return nullptr;
        } else
            rest.push_back(arg);
    }
    quorvex::capture::ParseError error;
    const auto capture = quorvex::capture::readFile(file, &error);
    if (!capture) {
        std::fprintf(stderr, "quorvex-sim: %s:%d: %s\n", file.c_str(), error.line, error.reason.c_str());
        status = 1;
        return nullptr;
    }
    try {
        auto replay = sim::make<sim::Replay>(*capture, static_cast<int>(port), loop);
        std::fprintf(stderr, "quorvex-sim: replaying port %d of %s (%s): %zu exchanges, %zu stream chunks\n",
                     replay->port(), file.c_str(), replay->settings().c_str(), replay->exchanges(),
                     replay->streamChunks());
        args = rest;
        return replay;
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "quorvex-sim: %s: %s\n", file.c_str(), e.what());
        status = 1;
        return nullptr;
    }
}

// Runs an instrument until a signal or the end of input ends it.
int runInstrument(sim::Handle<sim::Instrument> instrument, const sim::ModelInfo &info,
                  const std::vector<std::string> &args)
{
    const sim::ModelInfo *model = &info;
    Options options;
    if (auto status = parseOptions(args, options, *instrument))
        return *status;

    const int sigFd = blockSignals();
    if (sigFd < 0) {
        std::perror("quorvex-sim: signalfd");
        return 1;
    }
    sim::Console console(*instrument, *model, options.weight, options.drift);
    console.setVerbose(options.verbose);
    if (!startInstrument(*instrument, options))
        return 1;
    std::printf("%s\n", instrument->slavePath().c_str());
    std::fflush(stdout);

    serve(console, sigFd, options.stdinExit);
    instrument.reset();
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    ::close(sigFd);
    return 0;
}

int runModel(const sim::ModelInfo &info, const std::vector<std::string> &args)
{
    return runInstrument(info.create(), info, args);
}

int runSimulator(std::vector<std::string> args)
{
    if (std::find(args.begin(), args.end(), "--replay") != args.end()) {
        static const sim::ModelInfo replayInfo{"replay", "a capture played back", "", nullptr};
        int status = 0;
        auto replay = makeReplay(args, status);
        if (!replay)
            return status;
        return runInstrument(std::move(replay), replayInfo, args);
    }
    const sim::ModelInfo *model = findModel(args[0]);
    if (!model) {
        std::fprintf(stderr, "quorvex-sim: unknown model '%s' (try --list)\n", args[0].c_str());
        return kExitUsage;
    }
    return runModel(*model, args);
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printUsage(stderr);
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("quorvex-sim %s\n", QUORVEX_VERSION);
        return 0;
    }
    if (args[0] == "--definition" || args[0].rfind("--definition=", 0) == 0) {
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] != "--definition")
            rest.insert(rest.begin(), args[0].substr(13));
        return sim::serveDefinition(rest, runModel);
    }
    if (args[0] == "--list") {
        listModels();
        return 0;
    }
    return runSimulator(args);
}
