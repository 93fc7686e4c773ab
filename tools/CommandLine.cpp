#include "Cli.h"
#include "Commands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLocale>
#include <algorithm>
#include <climits>
#include <optional>

namespace quorvex::cli {

namespace {

// The longest --timeout whose milliseconds still fit the int QtDBus takes.
constexpr double kMaxTimeoutSeconds = INT_MAX / 1000.0;

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

// The parser's names of an option row: "-v, --verbose" is "v" and "verbose".
QStringList optionNames(const OptionRow &row)
{
    QStringList names = QString::fromLatin1(row.names).split(QStringLiteral(", "));
    for (QString &name : names)
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
    return names;
}

// The global options, as the parser takes them ("--" ends options there by itself).
void addGlobalOptions(QCommandLineParser &parser)
{
    for (const OptionRow &row : globalOptions())
        if (!optionNames(row).constFirst().isEmpty())
            parser.addOption(row.valueName
                                 ? QCommandLineOption(optionNames(row), QString(), QLatin1String(row.valueName))
                                 : QCommandLineOption(optionNames(row)));
}

// An option that takes a value, given as the last word without one.
void checkValueGiven(const QStringList &arguments)
{
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    const QString last = end < 0 ? arguments.value(arguments.size() - 1) : arguments.value(end - 1);
    for (const OptionRow &row : globalOptions())
        if (row.valueName && last == QLatin1String(row.names))
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

// The values of --id, --timeout and --watch (each as given last).
void readOptionValues(const QCommandLineParser &parser, const QStringList &arguments, Request &request)
{
    const QString id = QStringLiteral("id"), timeout = QStringLiteral("timeout"), watch = QStringLiteral("watch");
    if (parser.isSet(id)) {
        request.byId = true;
        request.dispId = parseDispId(unmask(parser.value(id), arguments));
    }
    if (parser.isSet(timeout))
        request.timeoutMs = std::max(1, int(parseTimeout(unmask(parser.value(timeout), arguments)) * 1000));
    if (parser.isSet(watch))
        request.watchMs = parseWatch(unmask(parser.value(watch), arguments));
    request.verbose = parser.isSet(QStringLiteral("verbose"));
}

// A command's own words, after any leading --timeout SECS and -v; nullopt
// when the first word is no command's or the command leaves them to the
// global options.
std::optional<Request> readOwnWords(const QStringList &arguments)
{
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
    const Command *command = commandNamed(rest.value(0));
    if (!command || !command->readOwnWords || !command->readOwnWords(request, rest))
        return std::nullopt;
    request.mode = command->mode;
    request.command = command;
    return request;
}

// A command named after the global options: its positional words.
bool readArguments(Request &request, const QStringList &words)
{
    const Command *command = request.byId ? nullptr : commandNamed(words.value(0));
    if (!command || !command->readArguments)
        return false;
    if (request.watchMs > 0)
        throw UsageError(QStringLiteral("--watch does not apply to %1").arg(words.first()));
    command->readArguments(request, words);
    request.mode = command->mode;
    request.command = command;
    return true;
}

} // namespace

bool isVerboseOption(const QString &word)
{
    return word == QLatin1String("-v") || word == QLatin1String("--verbose");
}

Request parseCommandLine(const QStringList &arguments)
{
    if (!arguments.contains(QLatin1String("--help")) && !arguments.contains(QLatin1String("-h")))
        if (std::optional<Request> request = readOwnWords(arguments))
            return *request;
    QCommandLineParser parser;
    addGlobalOptions(parser);
    const bool parsed = parser.parse(QStringList(QStringLiteral("quorvex")) + maskNegativeNumbers(arguments));

    Request request;
    if (parser.isSet(QStringLiteral("help"))) {
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
    readOptionValues(parser, arguments, request);
    if (parser.isSet(QStringLiteral("version")) || parser.isSet(QStringLiteral("list"))) {
        request.mode = parser.isSet(QStringLiteral("version")) ? Request::Mode::Version : Request::Mode::List;
        return request;
    }
    QStringList words;
    for (const QString &word : parser.positionalArguments())
        words << unmask(word, arguments);
    if (readArguments(request, words))
        return request;
    resolveOperation(request, words);
    convertArguments(request); // a bad argument is a usage error before any call
    return request;
}

} // namespace quorvex::cli
