#pragma once
// The command-line client's logic apart from the bus: reading the command
// line, converting arguments by the operation table, building the D-Bus
// call and turning a reply into text. main.cpp only runs it; the commands
// beside the operations are rows of Commands.h.
#include "api/Interfaces.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariant>
#include <stdexcept>

namespace quorvex::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitCallFailed = 1;
inline constexpr int kExitUsage = 2;
// The call was answered, but the instrument gave no valid reading.
inline constexpr int kExitNoReading = 3;
// reload: the server loaded the settings but logged warnings about them.
inline constexpr int kExitLoadWarnings = 4;

// A command line the client cannot act on; main prints it and exits with
// kExitUsage.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

struct HistoryRequest {
    enum class Command { Coils, Coil, Show };
    Command command = Command::Coils;
    qint64 sinceUs = 0;
    qint64 untilUs = 0;
    quint32 limit = 0;
    qint64 id = 0;
    bool csv = false;
};

struct Command;

struct Request {
    enum class Mode { Help, Version, List, Call, Ports, Monitor, History, Models, Probe, Reload };
    Mode mode = Mode::Call;
    // The row of a command beside the operations (ports, probe, coils, ...).
    const Command *command = nullptr;
    // Call by name (byId false) or through Invoke by dispatch identifier.
    bool byId = false;
    QString name;
    quint32 dispId = 0;
    // The operation in the table; nullptr only for an identifier the table
    // does not know (the server then answers for it).
    const Operation *op = nullptr;
    QStringList args;
    int timeoutMs = 60000;
    int watchMs = 0; // 0: call once
    bool verbose = false; // -v: a failure also shows the raw D-Bus error
    QString monitorPort; // monitor: a port number or device path; empty for all
    QStringList monitorPorts; // monitor --save: the ports to capture; empty for all
    QString savePath; // monitor --save: the capture file
    QString probeDevice; // probe: a port number or device path
    QString probeRole; // probe --role: empty for every reading role
    QString applyRole; // probe --apply: the role to configure with what was found
    HistoryRequest history; // coils, coil, history
    enum class Page { None, Markdown, Man };
    Page modelsPage = Page::None; // models --markdown / --man: the reference page
};

// Reads the command line (without the program name). Throws UsageError.
Request parseCommandLine(const QStringList &arguments);

// -v or --verbose.
bool isVerboseOption(const QString &word);

// The operation to call: by identifier, or the first word by name, with
// the rest its arguments. Throws UsageError for an unknown name.
void resolveOperation(Request &request, QStringList words);

// A Boolean argument: true/false/1/0, letter case ignored. Throws UsageError.
bool parseBoolean(const QString &text, const QString &parameterName);

// A dispatch identifier: 0x-prefixed hexadecimal or decimal. Throws UsageError.
quint32 parseDispId(const QString &text);

// The request's arguments as D-Bus values of the operation's parameter
// types, as many as were given. Throws UsageError for a wrong count or value.
QVariantList convertArguments(const Request &request);

// Whether the request is a generic operation called by name that has a
// result or reaches an instrument (AzzeraLunghezza): it goes through
// Diagnostics.Read, which also says why a reading or the zeroing failed.
bool readsWithReason(const Request &request);

// The method call for the request: the named method, Invoke(u, av), or
// Diagnostics.Read(s, av) (readsWithReason).
QDBusMessage buildCall(const Request &request);

// Why the reading of a Read reply failed; empty for a valid reading or for
// a reply that is not Read's.
QString readingProblem(const Request &request, const QDBusMessage &reply);

// What a successful reply prints: the number, the text, "Empty" for the
// empty value; an empty string for an operation without result.
QString formatReply(const Request &request, const QDBusMessage &reply);

// A value of a reply as text (doubles with 15 significant digits).
QString formatValue(const QVariant &value);

// The --list output: one line per operation.
QString listOperations();

QString usageText();

// The closest operation name to a mistyped one, or an empty string.
QString suggestOperation(const QString &name);

} // namespace quorvex::cli
