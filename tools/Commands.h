#pragma once
// The client's commands beside the operations, one row each: its name, its
// forms and help text, its own options, how it reads its words, and either
// the one D-Bus call it makes with the formatter of the reply, or a run of
// its own. The command line, main's dispatch, --help and the bash completion
// are made from these rows; the global options have a table of their own.
#include "Cli.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <span>

namespace quorvex::cli {

// What the shell offers for an option's value or a command's arguments.
enum class Completes { Nothing, DispatchId, Time, Role, File, Device };

struct OptionRow {
    const char *names; // "-v, --verbose": the long name last
    const char *valueName; // "SECS"; nullptr for a flag
    Completes value;
    const char *help; // --help's lines, '\n' between them; nullptr: not listed
};

// The options every call of an operation takes (and the help that ends them).
std::span<const OptionRow> globalOptions();

// What a command needs to run.
struct Session {
    QCoreApplication &app;
    QDBusConnection &bus;
};

// A call of the server's Diagnostics interface. Looking (ports, monitor)
// never starts a server, as that would open the line's ports; acting
// (probe, reload) starts it by D-Bus activation, as a reading does.
enum class ServerStart { Never, ByActivation };
QDBusMessage diagnosticsCall(const QString &method, ServerStart start = ServerStart::Never);

// A command's one method call. The server is started by D-Bus activation
// when it is not running.
struct BusCall {
    const char *interface = nullptr;
    const char *method = nullptr;
    QVariantList (*arguments)(const Request &) = nullptr; // nullptr: none
    int (*reply)(const Request &, const QDBusMessage &) = nullptr; // prints the reply; the exit status
    // (nullptr: prints nothing)
};

struct Command {
    const char *name = nullptr;
    Request::Mode mode = Request::Mode::Call;
    const char *synopsis = nullptr; // its forms after "quorvex ", '\n' between them
    const char *help = nullptr; // its paragraph of --help
    std::span<const OptionRow> options = {}; // its own options
    Completes arguments = Completes::Nothing; // what its arguments are
    // Its words (its name first), read before the global options are, once
    // any leading --timeout SECS and -v are taken: false leaves them to the
    // global options. Throws UsageError. nullptr: always left.
    bool (*readOwnWords)(Request &, const QStringList &words) = nullptr;
    // Its positional words (its name first) once the global options were
    // read; nullptr: the name is not a command there. Throws UsageError.
    void (*readArguments)(Request &, const QStringList &words) = nullptr;
    BusCall call = {}; // its one call ...
    int (*run)(Session &, const Request &) = nullptr; // ... or a run of its own (nullptr: call)
    bool needsBus = true;
};

std::span<const Command> commands();
// The command of that name; nullptr when it is none (an operation's, perhaps).
const Command *commandNamed(const QString &name);

// Runs the command's call or its own run; the exit status.
int runCommand(const Command &command, Session &session, const Request &request);

// Calls the request's operation, once or every --watch interval.
int runOperation(Session &session, const Request &request);

} // namespace quorvex::cli
