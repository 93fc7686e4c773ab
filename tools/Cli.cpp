#include "Cli.h"

#include "drivers/Roles.h"

#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/EditDistance.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QLocale>
#include <algorithm>
#include <climits>

namespace quorvex::cli {

namespace {

const QString kService = QLatin1String(quorvex::kServiceName);
const QString kPath = QLatin1String(quorvex::kObjectPath);
const QString kInterface = QLatin1String(quorvex::kInterfaceName);

// The operation of that exact name (D-Bus names are case-sensitive), or
// of that dispatch identifier.
const Operation *declaredOperation(const QString &name)
{
    const std::vector<Operation> &all = declaredOperations();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Operation &op) { return op.name == name; });
    return found == all.end() ? nullptr : &*found;
}

const Operation *declaredOperation(quint32 dispId)
{
    const std::vector<Operation> &all = declaredOperations();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Operation &op) { return op.dispId == dispId; });
    return found == all.end() ? nullptr : &*found;
}

// The longest --timeout whose milliseconds still fit the int QtDBus takes.
constexpr double kMaxTimeoutSeconds = INT_MAX / 1000.0;

QString typeName(ValueType type)
{
    switch (type) {
    case ValueType::None: return QString();
    case ValueType::Boolean: return QStringLiteral("boolean");
    case ValueType::Double: return QStringLiteral("double");
    case ValueType::Text: return QStringLiteral("text");
    case ValueType::Any: return QStringLiteral("any");
    case ValueType::Port: return QStringLiteral("port");
    }
    return QString();
}

// An argument word that starts with '-' but is a value, not an option.
bool isNegativeNumber(const QString &word)
{
    bool ok = false;
    QLocale::c().toDouble(word, &ok);
    return ok && word.startsWith(QLatin1Char('-'));
}

// QCommandLineParser would read "-12.5" as the short options 1, 2, . and 5:
// before the end of options each negative number is replaced by a stand-in
// ("\x01" and its index) that maskedWord() turns back.
QStringList maskNegativeNumbers(const QStringList &arguments)
{
    QStringList masked;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        optionsEnded = optionsEnded || word == QLatin1String("--");
        masked << (!optionsEnded && isNegativeNumber(word) ? QChar(1) + QString::number(i) : word);
    }
    return masked;
}

QString unmask(const QString &word, const QStringList &arguments)
{
    if (!word.startsWith(QChar(1)))
        return word;
    return arguments.value(word.mid(1).toInt(), word);
}

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption list{QStringLiteral("list")};
    QCommandLineOption id{QStringLiteral("id"), QString(), QStringLiteral("ID")};
    QCommandLineOption timeout{QStringLiteral("timeout"), QString(), QStringLiteral("SECS")};
    QCommandLineOption watch{QStringLiteral("watch"), QString(), QStringLiteral("MS")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")}};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({help, version, list, id, timeout, watch, verbose});
    }
};

// An option that takes a value, given as the last word without one.
void checkValueGiven(const QStringList &arguments)
{
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    const QString last = end < 0 ? arguments.value(arguments.size() - 1) : arguments.value(end - 1);
    for (const char *key : {"--id", "--timeout", "--watch"})
        if (last == QLatin1String(key))
            throw UsageError(QStringLiteral("option %1 needs a value").arg(last));
}

// The word of the command line that gave an unknown option name.
QString unknownOptionWord(const QString &name, const QStringList &arguments)
{
    for (const QString &word : arguments) {
        if (word == QLatin1String("--"))
            break;
        QString bare = word;
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (word.startsWith(QLatin1Char('-')) && bare.section(QLatin1Char('='), 0, 0) == name)
            return word;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

double parseTimeout(const QString &text)
{
    bool ok = false;
    const double seconds = QLocale::c().toDouble(text, &ok);
    if (!ok || !(seconds > 0) || seconds > kMaxTimeoutSeconds)
        throw UsageError(QStringLiteral("--timeout takes a number of seconds greater than 0, not '%1'").arg(text));
    return seconds;
}

int parseWatch(const QString &text)
{
    bool ok = false;
    const int ms = text.toInt(&ok);
    if (!ok || ms <= 0)
        throw UsageError(QStringLiteral("--watch takes a number of milliseconds greater than 0, not '%1'").arg(text));
    return ms;
}

QString describeParameters(const Operation &op)
{
    QStringList parts;
    for (const Parameter &p : op.params) {
        QString text = QStringLiteral("%1: %2").arg(p.name, typeName(p.type));
        if (p.optional) {
            if (p.type == ValueType::Boolean)
                text += p.defaultValue ? QStringLiteral(" = true") : QStringLiteral(" = false");
            text = QLatin1Char('[') + text + QLatin1Char(']');
        }
        parts << text;
    }
    return parts.join(QStringLiteral(", "));
}

QString formatList(const QVariantList &list)
{
    if (list.isEmpty())
        return QStringLiteral("Empty");
    QStringList parts;
    for (const QVariant &v : list)
        parts << formatValue(v);
    return parts.join(QStringLiteral(", "));
}

} // namespace

bool parseBoolean(const QString &text, const QString &parameterName)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("1"))
        return true;
    if (word == QLatin1String("false") || word == QLatin1String("0"))
        return false;
    throw UsageError(QStringLiteral("%1 must be true, false, 1 or 0, not '%2'").arg(parameterName, text));
}

quint32 parseDispId(const QString &text)
{
    bool ok = false;
    quint32 value = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toUInt(&ok, 16);
    else
        value = text.toUInt(&ok, 10);
    if (!ok || text.contains(QLatin1Char('+')) || text.contains(QLatin1Char(' ')))
        throw UsageError(QStringLiteral("'%1' is not a dispatch identifier (e.g. 0x60030002)").arg(text));
    return value;
}

QString suggestOperation(const QString &name)
{
    QString best;
    int bestDistance = INT_MAX;
    for (const Operation &op : declaredOperations()) {
        const QString candidate = op.name;
        const int d = editDistance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    // Only a near miss is worth suggesting: a changed letter case, a typo or two.
    const int allowed = std::max<int>(2, int(name.size()) / 4);
    return bestDistance <= allowed ? best : QString();
}

namespace {

// The values of --id, --timeout and --watch (each as given last).
void readOptionValues(const QCommandLineParser &parser, const Options &options, const QStringList &arguments,
                      Request &request)
{
    if (parser.isSet(options.id)) {
        request.byId = true;
        request.dispId = parseDispId(unmask(parser.value(options.id), arguments));
    }
    if (parser.isSet(options.timeout))
        request.timeoutMs = std::max(1, int(parseTimeout(unmask(parser.value(options.timeout), arguments)) * 1000));
    if (parser.isSet(options.watch))
        request.watchMs = parseWatch(unmask(parser.value(options.watch), arguments));
    request.verbose = parser.isSet(options.verbose);
}

bool isVerboseOption(const QString &word)
{
    return word == QLatin1String("-v") || word == QLatin1String("--verbose");
}

// `ports`, `models` and `monitor [PORT]`: lower-case words no operation has.
bool resolveDiagnostics(Request &request, const QStringList &words)
{
    const QString command = words.value(0);
    if (!request.byId && command == QLatin1String("models")) {
        if (words.size() > 1)
            throw UsageError(QStringLiteral("models takes no arguments"));
        request.mode = Request::Mode::Models;
        return true;
    }
    const bool ports = command == QLatin1String("ports");
    const bool reload = command == QLatin1String("reload");
    if (request.byId || (!ports && !reload && command != QLatin1String("monitor")))
        return false;
    if (reload) {
        if (request.watchMs > 0)
            throw UsageError(QStringLiteral("--watch does not apply to reload"));
        if (words.size() > 1)
            throw UsageError(QStringLiteral("reload takes no arguments"));
        request.mode = Request::Mode::Reload;
        return true;
    }
    if (request.watchMs > 0)
        throw UsageError(QStringLiteral("--watch does not apply to %1").arg(command));
    if (words.size() > (ports ? 1 : 2))
        throw UsageError(ports ? QStringLiteral("ports takes no arguments")
                               : QStringLiteral("monitor takes at most one port (a number or a device path)"));
    request.mode = ports ? Request::Mode::Ports : Request::Mode::Monitor;
    request.monitorPort = words.value(1);
    return true;
}

// `monitor --save FILE [PORT...]`.
Request parseCaptureCommand(Request request, const QStringList &words)
{
    request.mode = Request::Mode::Monitor;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i] == QLatin1String("--save")) {
            if (i + 1 >= words.size() || !request.savePath.isEmpty())
                throw UsageError(QStringLiteral("--save takes one file name"));
            request.savePath = words[++i];
        } else if (words[i].startsWith(QLatin1String("--"))) {
            throw UsageError(QStringLiteral("unknown option '%1' of monitor").arg(words[i]));
        } else {
            request.monitorPorts << words[i];
        }
    }
    if (request.savePath.isEmpty())
        throw UsageError(QStringLiteral("--save takes one file name"));
    request.monitorPort = request.monitorPorts.value(0);
    return request;
}

QString readingRole(const QString &option, const QString &value)
{
    if (readingOperationOf(value).isEmpty())
        throw UsageError(QStringLiteral("%1 takes Bilancia, Contametri or Altezza, not '%2'").arg(option, value));
    return value;
}

// `probe DEVICE [--role ROLE] [--apply ROLE]`.
Request parseProbeCommand(Request request, const QStringList &words)
{
    request.mode = Request::Mode::Probe;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        if (isVerboseOption(word)) {
            request.verbose = true;
        } else if (word == QLatin1String("--role") || word == QLatin1String("--apply")) {
            if (i + 1 >= words.size())
                throw UsageError(QStringLiteral("%1 takes a role").arg(word));
            (word == QLatin1String("--role") ? request.probeRole : request.applyRole) = readingRole(word, words[++i]);
        } else if (word.startsWith(QLatin1String("--"))) {
            throw UsageError(QStringLiteral("unknown option '%1' of probe").arg(word));
        } else if (request.probeDevice.isEmpty()) {
            request.probeDevice = word;
        } else {
            throw UsageError(QStringLiteral("probe takes one device (a port number or a device path)"));
        }
    }
    if (request.probeDevice.isEmpty())
        throw UsageError(QStringLiteral("probe takes one device (a port number or a device path)"));
    if (!request.probeRole.isEmpty() && !request.applyRole.isEmpty() && request.probeRole != request.applyRole)
        throw UsageError(QStringLiteral("--role and --apply name different roles"));
    if (request.probeRole.isEmpty())
        request.probeRole = request.applyRole;
    return request;
}

// The operation to call: by identifier, or the first word by name.
void resolveOperation(Request &request, QStringList words)
{
    if (request.byId) {
        request.op = declaredOperation(request.dispId);
        request.name = request.op ? request.op->name : QStringLiteral("Invoke");
        request.args = words;
        return;
    }
    if (words.isEmpty())
        throw UsageError(QStringLiteral("no operation given"));
    request.name = words.takeFirst();
    request.op = declaredOperation(request.name);
    if (!request.op) {
        QString message = QStringLiteral("unknown operation '%1'").arg(request.name);
        const QString hint = suggestOperation(request.name);
        if (!hint.isEmpty())
            message += QStringLiteral("; did you mean '%1'?").arg(hint);
        message += QStringLiteral(" ('quorvex --list' shows them all)");
        throw UsageError(message);
    }
    request.args = words;
}

} // namespace

Request parseCommandLine(const QStringList &arguments)
{
    if (!arguments.contains(QLatin1String("--help")) && !arguments.contains(QLatin1String("-h"))) {
        // The history commands, after any --timeout and -v.
        Request request;
        QStringList rest = arguments;
        for (;;) {
            if (rest.size() >= 2 && rest[0] == QLatin1String("--timeout")) {
                request.timeoutMs = std::max(1, int(parseTimeout(rest[1]) * 1000));
                rest.remove(0, 2);
            } else if (!rest.isEmpty() && isVerboseOption(rest[0])) {
                request.verbose = true;
                rest.remove(0);
            } else {
                break;
            }
        }
        if (rest.value(0) == QLatin1String("probe"))
            return parseProbeCommand(request, rest.mid(1));
        if (rest.size() == 2 && rest[0] == QLatin1String("models")
            && (rest[1] == QLatin1String("--markdown") || rest[1] == QLatin1String("--man"))) {
            request.mode = Request::Mode::Models;
            request.modelsPage = rest[1] == QLatin1String("--markdown") ? Request::Page::Markdown : Request::Page::Man;
            return request;
        }
        if (rest.value(0) == QLatin1String("monitor") && rest.contains(QLatin1String("--save")))
            return parseCaptureCommand(request, rest.mid(1));
        if (std::optional<HistoryRequest> history = parseHistoryCommand(rest)) {
            request.mode = Request::Mode::History;
            request.history = *history;
            return request;
        }
    }
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    const bool parsed = parser.parse(QStringList(QStringLiteral("quorvex")) + maskNegativeNumbers(arguments));

    Request request;
    if (parser.isSet(options.help)) {
        request.mode = Request::Mode::Help;
        return request;
    }
    checkValueGiven(arguments);
    if (!parsed) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            throw UsageError(parser.errorText());
        throw UsageError(QStringLiteral("unknown option '%1'").arg(unknownOptionWord(unknown.first(), arguments)));
    }
    readOptionValues(parser, options, arguments, request);
    if (parser.isSet(options.version) || parser.isSet(options.list)) {
        request.mode = parser.isSet(options.version) ? Request::Mode::Version : Request::Mode::List;
        return request;
    }
    QStringList words;
    for (const QString &word : parser.positionalArguments())
        words << unmask(word, arguments);
    if (resolveDiagnostics(request, words))
        return request;
    resolveOperation(request, words);
    convertArguments(request); // a bad argument is a usage error before any call
    return request;
}

QVariantList convertArguments(const Request &request)
{
    QVariantList values;
    if (!request.op) {
        // An identifier this client does not know: the server decides.
        for (const QString &a : request.args)
            values << a;
        return values;
    }
    const Operation &op = *request.op;
    const int given = int(request.args.size());
    if (given < op.requiredCount() || given > int(op.params.size())) {
        const QString count = op.requiredCount() == int(op.params.size())
            ? QString::number(op.params.size())
            : QStringLiteral("%1 to %2").arg(op.requiredCount()).arg(op.params.size());
        throw UsageError(QStringLiteral("%1 takes %2 argument(s), %3 given: %1(%4)")
                             .arg(op.name, count)
                             .arg(given)
                             .arg(describeParameters(op)));
    }
    for (int i = 0; i < given; ++i) {
        const Parameter &p = op.params[i];
        const QString &text = request.args.at(i);
        switch (p.type) {
        case ValueType::Boolean: values << parseBoolean(text, p.name); break;
        case ValueType::Double: {
            bool ok = false;
            const double d = QLocale::c().toDouble(text, &ok);
            if (!ok)
                throw UsageError(QStringLiteral("%1 must be a number, not '%2'").arg(p.name, text));
            values << d;
            break;
        }
        default:
            values << text; // text and port references go as given
            break;
        }
    }
    return values;
}

bool readsWithReason(const Request &request)
{
    return !request.byId && request.op && !request.op->takesPort()
        && (request.op->result != ValueType::None || request.op->roleOperation);
}

QDBusMessage buildCall(const Request &request)
{
    const QVariantList values = convertArguments(request);
    if (readsWithReason(request)) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, QLatin1String(kDiagnosticsInterface),
                                                              QStringLiteral("Read"));
        message << request.name << QVariant::fromValue(values);
        return message;
    }
    if (request.byId) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Invoke"));
        // QtDBus sends a QVariantList as "av", each value in its own variant.
        message << QVariant::fromValue(request.dispId) << QVariant::fromValue(values);
        return message;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, request.name);
    message.setArguments(values);
    return message;
}

QString formatValue(const QVariant &raw)
{
    const QVariant value = unwrapDbusVariant(raw);
    if (!value.isValid())
        return QString();
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
        if (argument.currentSignature() == QLatin1String("av"))
            return formatList(qdbus_cast<QVariantList>(argument));
        return QStringLiteral("(%1)").arg(argument.currentSignature());
    }
    switch (value.typeId()) {
    case QMetaType::Double: return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::Float: return QString::number(value.toFloat(), 'g', 7);
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QVariantList: return formatList(value.toList());
    case QMetaType::QStringList: return value.toStringList().join(QStringLiteral(", "));
    default: return value.toString();
    }
}

QString formatReply(const Request &request, const QDBusMessage &reply)
{
    if (request.op && request.op->result == ValueType::None)
        return QString();
    if (reply.arguments().isEmpty())
        return QString();
    return formatValue(reply.arguments().constFirst());
}

QString readingProblem(const Request &request, const QDBusMessage &reply)
{
    if (!readsWithReason(request) || reply.arguments().size() < 2)
        return QString();
    return reply.arguments().at(1).toString();
}

QString listOperations()
{
    QString out;
    for (const Operation &op : declaredOperations()) {
        QString line = QStringLiteral("%1  0x%2  %3(%4)")
                           .arg(op.slot, 2)
                           .arg(op.dispId, 8, 16, QLatin1Char('0'))
                           .arg(op.name, describeParameters(op));
        if (op.result != ValueType::None)
            line += QStringLiteral(" -> ") + typeName(op.result);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString usageText()
{
    return QStringLiteral("Usage: quorvex [options] <Operation> [arguments...]\n"
                          "       quorvex [options] --id <dispatch-id> [arguments...]\n"
                          "       quorvex --list\n"
                          "       quorvex ports\n"
                          "       quorvex reload\n"
                          "       quorvex models [--markdown | --man]\n"
                          "       quorvex monitor [PORT]\n"
                          "       quorvex monitor --save FILE [PORT...]\n"
                          "       quorvex probe DEVICE [--role ROLE] [--apply ROLE]\n"
                          "       quorvex coils [--since WHEN] [--until WHEN] [--limit N] [--csv]\n"
                          "       quorvex coil ID [--csv]\n"
                          "       quorvex history\n"
                          "\n"
                          "Calls an operation of the Quorvex server (com.velkaro.Quorvex on the\n"
                          "D-Bus session bus) and prints its result.\n"
                          "\n"
                          "Options:\n"
                          "  --id ID          call through Invoke by dispatch identifier (0x60030002 or decimal)\n"
                          "  --timeout SECS   wait at most SECS seconds for the answer (default 60)\n"
                          "  --watch MS       repeat the call every MS milliseconds, one timestamped\n"
                          "                   line each time, until Ctrl-C; a line whose reading\n"
                          "                   failed ends with a tab and \"# no reading: <why>\"\n"
                          "  --list           list the operations: slot, dispatch identifier, parameters\n"
                          "  -v, --verbose    a failure also shows the raw D-Bus error\n"
                          "  -h, --help       this text\n"
                          "  --version        the client's version\n"
                          "  --               end of options (for arguments that start with '-')\n"
                          "\n"
                          "Arguments follow the operation's parameters: boolean as true/false/1/0,\n"
                          "text as given, port as a port number (\"3\") or a device path with optional\n"
                          "line settings (\"/dev/ttyUSB0:9600,N,8,1\"). Optional parameters, shown in\n"
                          "[brackets] by --list, may be left out.\n"
                          "\n"
                          "Results: numbers with up to 15 significant digits, text as is, \"Empty\"\n"
                          "for the empty value; operations without result print nothing.\n"
                          "\n"
                          "models lists the instrument models a role can name: brand, model, where it\n"
                          "is defined (a definition file or built-in), its operations and the line\n"
                          "settings it is usually found at. It reads the definition folders itself.\n"
                          "With --markdown or --man it prints the reference page of the built-in\n"
                          "models instead (docs/models.md, quorvex-instruments(7)).\n"
                          "ports lists the server's port objects (number, state, line settings, bytes\n"
                          "in and out, whether the instrument answers or how many exchanges in a row\n"
                          "it stayed silent, its last reply, device, last error), each configured\n"
                          "role's instrument (state ok, silent, closed, gone or unconfigured, readings\n"
                          "and failed readings since start, the median time of its last exchanges\n"
                          "next to the time their bytes take on the wire), the plant feed's\n"
                          "broker link (connected or why not, coil records unsent) and the serial\n"
                          "devices present by their stable /dev/serial/by-id names. monitor prints\n"
                          "every chunk of bytes the\n"
                          "server sends (TX) or receives (RX), in hexadecimal and as text, on all\n"
                          "ports or on PORT (a port number or a device path), until Ctrl-C. With\n"
                          "--save it writes the chunks of the PORTs (all when none) to FILE instead,\n"
                          "as a capture that quorvex-sim --replay plays back (docs/capture.md).\n"
                          "Neither starts the server: without one they say so and exit with 1.\n"
                          "reload makes the server read its settings file again, as the settings\n"
                          "dialog's OK and SIGHUP do, and prints every warning that load logged\n"
                          "(exit status 4 when there was one). reload, probe and every operation\n"
                          "start the server by D-Bus activation when it is not running.\n"
                          "\n"
                          "probe finds what answers on DEVICE (a port number of the server or a\n"
                          "device path): every instrument model that serves ROLE (Bilancia,\n"
                          "Contametri, Altezza; all when none) at its usual line settings, then at\n"
                          "every speed and framing, with its read request only. It prints where it\n"
                          "is while it runs and one line per instrument found; exit status 3 when\n"
                          "nothing answered. --apply ROLE writes what was found for ROLE (Marca,\n"
                          "Modello, Settaggio, Porta and the port's [Porte] entry, the device by its\n"
                          "/dev/serial/by-id name where it has one) into the settings file and has\n"
                          "the server load it.\n"
                          "\n"
                          "A generic operation with a result (LeggiPeso, ...) is called through the\n"
                          "server's Diagnostics.Read: it prints the same value as the operation does,\n"
                          "and when the instrument gave no valid reading it also says why on standard\n"
                          "error (\"quorvex: LeggiPeso: no answer within 2000 ms\") and exits with 3.\n"
                          "So does AzzeraLunghezza when the counter did not zero (no coil was closed).\n"
                          "\n"
                          "coils lists the recorded coils, newest first (at most N, default 100),\n"
                          "closed from WHEN (today, yesterday, 2026-03-01, 2026-03-01T08:30; local\n"
                          "time) until before WHEN; coil ID prints one coil's samples (length,\n"
                          "height). --csv prints CSV with a header and ISO 8601 UTC times instead.\n"
                          "history opens the server's history window.\n"
                          "\n"
                          "Exit status: 0 success, 1 the call failed (no server, no session bus or no\n"
                          "answer in time are said in words; the server's own errors are printed as\n"
                          "\"quorvex: <error name>: <message>\"), 2 the command line is wrong, 3 the\n"
                          "reading failed (its value, 0, is still printed), the zeroing was not done\n"
                          "or probe found nothing, 4 reload's load logged warnings.\n"
                          "\n"
                          "Examples:\n"
                          "  quorvex LeggiPeso\n"
                          "  quorvex LeggiLunghezza true\n"
                          "  quorvex LeggiPeso_BILANCIAI_D400 3\n"
                          "  quorvex --id 0x60030002\n"
                          "  quorvex --watch 500 LeggiPeso\n"
                          "  quorvex monitor 3\n"
                          "  quorvex coils --since today --csv > coils.csv\n");
}

} // namespace quorvex::cli
