#include "Commands.h"

#include "BusErrors.h"
#include "HistoryCli.h"
#include "ModelsCli.h"
#include "Monitor.h"
#include "Output.h"
#include "PortsCli.h"
#include "ProbeCli.h"
#include "ReloadCli.h"
#include "api/BusNames.h"

namespace quorvex::cli {

namespace {

constexpr OptionRow kGlobalOptions[] = {
    {"--id", "ID", Completes::DispatchId, "call through Invoke by dispatch identifier (0x60030002 or decimal)"},
    {"--timeout", "SECS", Completes::Nothing, "wait at most SECS seconds for the answer (default 60)"},
    {"--watch", "MS", Completes::Nothing,
     "repeat the call every MS milliseconds, one timestamped\n"
     "line each time, until Ctrl-C; a line whose reading\n"
     "failed ends with a tab and \"# no reading: <why>\""},
    {"--list", nullptr, Completes::Nothing, "list the operations: slot, dispatch identifier, parameters"},
    {"-v, --verbose", nullptr, Completes::Nothing, "a failure also shows the raw D-Bus error"},
    {"-h, --help", nullptr, Completes::Nothing, "this text"},
    {"--version", nullptr, Completes::Nothing, "the client's version"},
    {"--", nullptr, Completes::Nothing, "end of options (for arguments that start with '-')"},
};

constexpr OptionRow kModelsOptions[] = {{"--markdown", nullptr, Completes::Nothing, nullptr},
                                        {"--man", nullptr, Completes::Nothing, nullptr}};
constexpr OptionRow kMonitorOptions[] = {{"--save", "FILE", Completes::File, nullptr}};
constexpr OptionRow kProbeOptions[] = {{"--role", "ROLE", Completes::Role, nullptr},
                                       {"--apply", "ROLE", Completes::Role, nullptr}};
constexpr OptionRow kCoilsOptions[] = {{"--since", "WHEN", Completes::Time, nullptr},
                                       {"--until", "WHEN", Completes::Time, nullptr},
                                       {"--limit", "N", Completes::Nothing, nullptr},
                                       {"--csv", nullptr, Completes::Nothing, nullptr}};
constexpr OptionRow kCoilOptions[] = {{"--csv", nullptr, Completes::Nothing, nullptr}};

const Command kCommands[] = {
    {.name = "ports",
     .mode = Request::Mode::Ports,
     .synopsis = "ports",
     .help = "ports lists the server's port objects (number, state, line settings, bytes\n"
             "in and out, whether the instrument answers or how many exchanges in a row\n"
             "it stayed silent, its last reply, device, last error), each configured\n"
             "role's instrument (state ok, silent, closed, gone or unconfigured, readings\n"
             "and failed readings since start, the median time of its last exchanges\n"
             "next to the time their bytes take on the wire), the plant feed's broker\n"
             "link (connected or why not, coil records unsent), the Modbus TCP face\n"
             "(listening or why not, its clients) and the serial devices present by\n"
             "their stable /dev/serial/by-id names. It does not start the server:\n"
             "without one it says so and exits with 1.\n",
     .readArguments = readNoArguments,
     .run = runPorts},
    {.name = "reload",
     .mode = Request::Mode::Reload,
     .synopsis = "reload",
     .help = "reload makes the server read its settings file again, as the settings\n"
             "dialog's OK and SIGHUP do, and prints every warning that load logged\n"
             "(exit status 4 when there was one). reload, probe and every operation\n"
             "start the server by D-Bus activation when it is not running.\n",
     .readArguments = readNoArguments,
     .call = {kDiagnosticsInterface, "Reload", nullptr, printReloadWarnings}},
    {.name = "models",
     .mode = Request::Mode::Models,
     .synopsis = "models [--markdown | --man]",
     .help = "models lists the instrument models a role can name: brand, model, where it\n"
             "is defined (a definition file or built-in), its operations and the line\n"
             "settings it is usually found at. It reads the definition folders itself.\n"
             "With --markdown or --man it prints the reference page of the built-in\n"
             "models instead (docs/models.md, quorvex-instruments(7)).\n",
     .options = kModelsOptions,
     .readOwnWords = readModelsPage,
     .readArguments = readNoArguments,
     .run = runModels,
     .needsBus = false},
    {.name = "monitor",
     .mode = Request::Mode::Monitor,
     .synopsis = "monitor [PORT]\n"
                 "monitor --save FILE [PORT...]",
     .help = "monitor prints every chunk of bytes the server sends (TX) or receives\n"
             "(RX), in hexadecimal and as text, on all ports or on PORT (a port number\n"
             "or a device path), until Ctrl-C. With --save it writes the chunks of the\n"
             "PORTs (all when none) to FILE instead, as a capture that quorvex-sim\n"
             "--replay plays back (docs/capture.md). It does not start the server:\n"
             "without one it says so and exits with 1.\n",
     .options = kMonitorOptions,
     .arguments = Completes::Device,
     .readOwnWords = readCaptureWords,
     .readArguments = readMonitorArguments,
     .run = runMonitor},
    {.name = "probe",
     .mode = Request::Mode::Probe,
     .synopsis = "probe DEVICE [--role ROLE] [--apply ROLE]",
     .help = "probe finds what answers on DEVICE (a port number of the server or a\n"
             "device path): every instrument model that serves ROLE (Bilancia,\n"
             "Contametri, Altezza; all when none) at its usual line settings, then at\n"
             "every speed and framing, with its read request only. It prints where it\n"
             "is while it runs and one line per instrument found; exit status 3 when\n"
             "nothing answered. --apply ROLE writes what was found for ROLE (Marca,\n"
             "Modello, Settaggio, Porta and the port's [Porte] entry, the device by its\n"
             "/dev/serial/by-id name where it has one) into the settings file and has\n"
             "the server load it.\n",
     .options = kProbeOptions,
     .arguments = Completes::Device,
     .readOwnWords = readProbeWords,
     .run = runProbe},
    {.name = "coils",
     .mode = Request::Mode::History,
     .synopsis = "coils [--since WHEN] [--until WHEN] [--limit N] [--csv]",
     .help = "coils lists the recorded coils, newest first (at most N, default 100),\n"
             "closed from WHEN (today, yesterday, 2026-03-01, 2026-03-01T08:30; local\n"
             "time) until before WHEN. --csv prints CSV with a header and ISO 8601 UTC\n"
             "times instead.\n",
     .options = kCoilsOptions,
     .readOwnWords = readHistoryWords,
     .call = {kHistoryInterface, "Coils", coilsArguments, printCoils}},
    {.name = "coil",
     .mode = Request::Mode::History,
     .synopsis = "coil ID [--csv]",
     .help = "coil ID prints one coil's samples (length, height); --csv prints them as\n"
             "CSV with a header.\n",
     .options = kCoilOptions,
     .readOwnWords = readHistoryWords,
     .call = {kHistoryInterface, "Profile", profileArguments, printProfile}},
    {.name = "history",
     .mode = Request::Mode::History,
     .synopsis = "history",
     .help = "history opens the server's history window.\n",
     .readOwnWords = readHistoryWords,
     .call = {kHistoryInterface, "ShowHistory", nullptr, nullptr}},
};

} // namespace

std::span<const OptionRow> globalOptions()
{
    return kGlobalOptions;
}

std::span<const Command> commands()
{
    return kCommands;
}

const Command *commandNamed(const QString &name)
{
    for (const Command &command : kCommands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

QDBusMessage diagnosticsCall(const QString &method, ServerStart start)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(kServiceName), QLatin1String(kObjectPath),
                                                          QLatin1String(kDiagnosticsInterface), method);
    message.setAutoStartService(start == ServerStart::ByActivation);
    return message;
}

int runCommand(const Command &command, Session &session, const Request &request)
{
    if (command.run)
        return command.run(session, request);
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kServiceName), QLatin1String(kObjectPath),
                                       QLatin1String(command.call.interface), QLatin1String(command.call.method));
    if (command.call.arguments)
        call.setArguments(command.call.arguments(request));
    const QDBusMessage reply = session.bus.call(call, QDBus::Block, request.timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        writeLine(stderr, callFailure(reply, request.timeoutMs));
        return kExitCallFailed;
    }
    return command.call.reply ? command.call.reply(request, reply) : kExitOk;
}

} // namespace quorvex::cli
