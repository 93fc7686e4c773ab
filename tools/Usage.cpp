#include "Cli.h"
#include "Commands.h"

namespace quorvex::cli {

namespace {

// Where an option's help starts on its line of --help.
constexpr int kHelpColumn = 17;

QString optionLines(std::span<const OptionRow> options)
{
    QString out;
    for (const OptionRow &row : options) {
        QString label = QLatin1String(row.names);
        if (row.valueName)
            label += QLatin1Char(' ') + QLatin1String(row.valueName);
        const QStringList help = QString::fromLatin1(row.help).split(QLatin1Char('\n'));
        out += QStringLiteral("  ") + label.leftJustified(kHelpColumn) + help.constFirst() + QLatin1Char('\n');
        for (const QString &line : help.mid(1))
            out += QString(kHelpColumn + 2, QLatin1Char(' ')) + line + QLatin1Char('\n');
    }
    return out;
}

} // namespace

QString usageText()
{
    QString text = QStringLiteral("Usage: quorvex [options] <Operation> [arguments...]\n"
                                  "       quorvex [options] --id <dispatch-id> [arguments...]\n"
                                  "       quorvex --list\n");
    for (const Command &command : commands())
        for (const QString &form : QString::fromLatin1(command.synopsis).split(QLatin1Char('\n')))
            text += QStringLiteral("       quorvex ") + form + QLatin1Char('\n');
    text += QStringLiteral("\n"
                           "Calls an operation of the Quorvex server (com.velkaro.Quorvex on the\n"
                           "D-Bus session bus) and prints its result.\n"
                           "\n"
                           "Options:\n");
    text += optionLines(globalOptions());
    text += QStringLiteral("\n"
                           "Arguments follow the operation's parameters: boolean as true/false/1/0,\n"
                           "text as given, port as a port number (\"3\") or a device path with optional\n"
                           "line settings (\"/dev/ttyUSB0:9600,N,8,1\"). Optional parameters, shown in\n"
                           "[brackets] by --list, may be left out.\n"
                           "\n"
                           "Results: numbers with up to 15 significant digits, text as is, \"Empty\"\n"
                           "for the empty value; operations without result print nothing.\n"
                           "\n"
                           "A generic operation with a result (LeggiPeso, ...) is called through the\n"
                           "server's Diagnostics.Read: it prints the same value as the operation does,\n"
                           "and when the instrument gave no valid reading it also says why on standard\n"
                           "error (\"quorvex: LeggiPeso: no answer within 2000 ms\") and exits with 3.\n"
                           "So does AzzeraLunghezza when the counter did not zero (no coil was closed).\n");
    for (const Command &command : commands())
        text += QLatin1Char('\n') + QLatin1String(command.help);
    text += QStringLiteral("\n"
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
    return text;
}

} // namespace quorvex::cli
