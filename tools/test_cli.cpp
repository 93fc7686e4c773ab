// The client's command line, argument conversion, call building and result
// formatting, without a bus.
#include "Cli.h"
#include "LocalFacts.h"
#include "Monitor.h"
#include "drivers/InstrumentModel.h"

#include <QDBusVariant>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quorvex;
using namespace quorvex::cli;

namespace {

Request parse(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *w : words)
        list << QString::fromUtf8(w);
    return parseCommandLine(list);
}

// The message of the usage error a command line gives ("" if it gives none).
std::string usageError(std::initializer_list<const char *> words)
{
    try {
        parse(words);
    } catch (const UsageError &e) {
        return e.what();
    }
    return {};
}

#define EXPECT_USAGE_ERROR(words, fragment)                                                                            \
    do {                                                                                                               \
        const std::string message = usageError words;                                                                  \
        EXPECT_NE(message.find(fragment), std::string::npos) << "got: '" << message << "'";                            \
    } while (0)

TEST(CommandLine, OperationByNameWithOptionsBeforeAndAfter)
{
    const Request r = parse({"--timeout", "2.5", "LeggiLunghezza", "true", "--watch=250"});
    EXPECT_EQ(r.mode, Request::Mode::Call);
    EXPECT_FALSE(r.byId);
    ASSERT_NE(r.op, nullptr);
    EXPECT_EQ(r.op->slot, 5);
    EXPECT_EQ(r.args, QStringList{"true"});
    EXPECT_EQ(r.timeoutMs, 2500);
    EXPECT_EQ(r.watchMs, 250);
}

TEST(CommandLine, DefaultsAreOneCallWithSixtySeconds)
{
    const Request r = parse({"LeggiPeso"});
    EXPECT_EQ(r.timeoutMs, 60000);
    EXPECT_EQ(r.watchMs, 0);
    EXPECT_TRUE(r.args.isEmpty());
}

TEST(CommandLine, DispatchIdentifierInHexAndDecimal)
{
    Request r = parse({"--id", "0x60030002"});
    EXPECT_TRUE(r.byId);
    EXPECT_EQ(r.dispId, 0x60030002u);
    ASSERT_NE(r.op, nullptr);
    EXPECT_EQ(r.op->name, QStringLiteral("LeggiPeso"));

    r = parse({"--id=1610809359", "3"}); // 0x6003000f
    ASSERT_NE(r.op, nullptr);
    EXPECT_EQ(r.op->name, QStringLiteral("LeggiPeso_BILANCIAI_D400"));
    EXPECT_EQ(r.args, QStringList{"3"});

    r = parse({"--id", "0X6003001F"});
    ASSERT_NE(r.op, nullptr);
    EXPECT_EQ(r.op->name, QStringLiteral("LeggiTara"));
}

TEST(CommandLine, UnknownIdentifierIsLeftToTheServer)
{
    const Request r = parse({"--id", "0x12345678", "a", "b"});
    EXPECT_EQ(r.op, nullptr);
    EXPECT_EQ(r.args, (QStringList{"a", "b"}));
}

TEST(CommandLine, ListAndHelpWinOverTheRest)
{
    EXPECT_EQ(parse({"--list"}).mode, Request::Mode::List);
    EXPECT_EQ(parse({"LeggiPeso", "--list"}).mode, Request::Mode::List);
    EXPECT_EQ(parse({"--help"}).mode, Request::Mode::Help);
    EXPECT_EQ(parse({"NoSuchThing", "-h"}).mode, Request::Mode::Help);
    EXPECT_EQ(parse({"--frobnicate", "--help"}).mode, Request::Mode::Help);
    EXPECT_EQ(parse({"LeggiPeso", "--version"}).mode, Request::Mode::Version);
}

TEST(CommandLine, DoubleDashAndNegativeNumbersAreArguments)
{
    Request r = parse({"LeggiServizio", "--", "--list"});
    EXPECT_EQ(r.mode, Request::Mode::Call);
    EXPECT_EQ(r.args, QStringList{"--list"});

    r = parse({"LeggiServizio", "-12.5"});
    EXPECT_EQ(r.args, QStringList{"-12.5"});
}

TEST(CommandLine, UsageErrors)
{
    EXPECT_USAGE_ERROR(({}), "no operation");
    EXPECT_USAGE_ERROR(({"--verbos", "LeggiPeso"}), "unknown option '--verbos'");
    EXPECT_USAGE_ERROR(({"LeggiPeso", "--timeout"}), "--timeout needs a value");
    EXPECT_USAGE_ERROR(({"--timeout", "0", "LeggiPeso"}), "--timeout");
    EXPECT_USAGE_ERROR(({"--timeout", "-1", "LeggiPeso"}), "--timeout");
    EXPECT_USAGE_ERROR(({"--timeout", "1e12", "LeggiPeso"}), "--timeout");
    EXPECT_USAGE_ERROR(({"--timeout", "2,5", "LeggiPeso"}), "--timeout");
    EXPECT_USAGE_ERROR(({"--watch", "0", "LeggiPeso"}), "--watch");
    EXPECT_USAGE_ERROR(({"--watch", "fast", "LeggiPeso"}), "--watch");
    EXPECT_USAGE_ERROR(({"--id", "60030002x"}), "not a dispatch identifier");
    EXPECT_USAGE_ERROR(({"--id", "0x"}), "not a dispatch identifier");
    EXPECT_USAGE_ERROR(({"--id", "0x100000000"}), "not a dispatch identifier");
}

TEST(CommandLine, UnknownOperationSuggestsTheNearestName)
{
    EXPECT_USAGE_ERROR(({"leggipeso"}), "did you mean 'LeggiPeso'?");
    EXPECT_USAGE_ERROR(({"LegiTara"}), "did you mean 'LeggiTara'?");
    const std::string far = usageError({"Reboot"});
    EXPECT_NE(far.find("unknown operation 'Reboot'"), std::string::npos) << far;
    EXPECT_EQ(far.find("did you mean"), std::string::npos) << far;
    EXPECT_NE(far.find("--list"), std::string::npos) << far;
}

TEST(Arguments, BooleanForms)
{
    for (const char *yes : {"true", "TRUE", "True", "1"})
        EXPECT_TRUE(parseBoolean(QString::fromLatin1(yes), "Force")) << yes;
    for (const char *no : {"false", "False", "0"})
        EXPECT_FALSE(parseBoolean(QString::fromLatin1(no), "Force")) << no;
    for (const char *bad : {"yes", "2", "", "-1", "truee"})
        EXPECT_THROW(parseBoolean(QString::fromLatin1(bad), "Force"), UsageError) << bad;
}

TEST(Arguments, ConvertedByParameterType)
{
    QVariantList v = convertArguments(parse({"LeggiAltezza", "1"}));
    ASSERT_EQ(v.size(), 1);
    EXPECT_EQ(v[0].typeId(), QMetaType::Bool);
    EXPECT_TRUE(v[0].toBool());

    // Port references and text go as given, as text.
    v = convertArguments(parse({"ScriviServizio_CTM_MELSEC", "/dev/ttyUSB0:9600,N,8,1", " D100 = 5 "}));
    ASSERT_EQ(v.size(), 2);
    EXPECT_EQ(v[0], QVariant(QStringLiteral("/dev/ttyUSB0:9600,N,8,1")));
    EXPECT_EQ(v[1], QVariant(QStringLiteral(" D100 = 5 ")));
    EXPECT_EQ(v[1].typeId(), QMetaType::QString);

    v = convertArguments(parse({"LeggiPeso_BILANCIAI_D400", "3"}));
    ASSERT_EQ(v.size(), 1);
    EXPECT_EQ(v[0].typeId(), QMetaType::QString);
}

TEST(Arguments, OptionalParameterMayBeOmittedButCountsAreChecked)
{
    EXPECT_TRUE(convertArguments(parse({"ShowSampler"})).isEmpty());
    EXPECT_USAGE_ERROR(({"LeggiPeso", "3"}), "LeggiPeso takes 0 argument(s), 1 given");
    EXPECT_USAGE_ERROR(({"LeggiLunghezza", "true", "false"}), "0 to 1");
    EXPECT_USAGE_ERROR(({"LeggiPeso_BILANCIAI_D400"}), "MSCObj: port");
    EXPECT_USAGE_ERROR(({"ScriviServizio_CTM_MELSEC", "3"}), "takes 2 argument(s), 1 given");
    EXPECT_USAGE_ERROR(({"LeggiAltezza", "maybe"}), "Force must be true, false, 1 or 0");
    // By identifier the same table applies.
    EXPECT_USAGE_ERROR(({"--id", "0x60030000", "maybe"}), "Force must be");
    EXPECT_USAGE_ERROR(({"--id", "0x6003000f"}), "takes 1 argument(s), 0 given");
}

TEST(CallMessage, NamedMethodWithAndWithoutOptionalArgument)
{
    // A generic reading by name goes through Diagnostics.Read(s, av).
    QDBusMessage m = buildCall(parse({"LeggiLunghezza"}));
    EXPECT_EQ(m.service(), "com.velkaro.Quorvex");
    EXPECT_EQ(m.path(), "/com/velkaro/Quorvex/Global");
    EXPECT_EQ(m.interface(), "com.velkaro.Quorvex.Diagnostics");
    EXPECT_EQ(m.member(), "Read");
    ASSERT_EQ(m.arguments().size(), 2);
    EXPECT_EQ(m.arguments()[0].toString(), "LeggiLunghezza");
    EXPECT_TRUE(m.arguments()[1].toList().isEmpty());

    m = buildCall(parse({"LeggiLunghezza", "false"}));
    ASSERT_EQ(m.arguments().size(), 2);
    ASSERT_EQ(m.arguments()[1].toList().size(), 1);
    EXPECT_EQ(m.arguments()[1].toList()[0].typeId(), QMetaType::Bool);

    // An operation without result is the method itself.
    m = buildCall(parse({"ShowSampler", "false"}));
    EXPECT_EQ(m.interface(), "com.velkaro.Quorvex.Global");
    EXPECT_EQ(m.member(), "ShowSampler");
    ASSERT_EQ(m.arguments().size(), 1);
    EXPECT_EQ(m.arguments()[0].typeId(), QMetaType::Bool);
}

TEST(CallMessage, InvokeCarriesIdentifierAndArgumentList)
{
    const QDBusMessage m = buildCall(parse({"--id", "0x60030000", "true"}));
    EXPECT_EQ(m.member(), "Invoke");
    ASSERT_EQ(m.arguments().size(), 2);
    EXPECT_EQ(m.arguments()[0].typeId(), QMetaType::UInt);
    EXPECT_EQ(m.arguments()[0].toUInt(), 0x60030000u);
    ASSERT_EQ(m.arguments()[1].typeId(), QMetaType::QVariantList);
    const QVariantList inner = m.arguments()[1].toList();
    ASSERT_EQ(inner.size(), 1);
    EXPECT_EQ(inner[0].typeId(), QMetaType::Bool);

    const QDBusMessage none = buildCall(parse({"--id", "0x60030002"}));
    ASSERT_EQ(none.arguments().size(), 2);
    EXPECT_EQ(none.arguments()[1].typeId(), QMetaType::QVariantList);
    EXPECT_TRUE(none.arguments()[1].toList().isEmpty());
}

TEST(Results, NumbersKeepTheirPrecisionRegardlessOfLocale)
{
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    EXPECT_EQ(formatValue(12.34), "12.34");
    EXPECT_EQ(formatValue(1500.0), "1500");
    EXPECT_EQ(formatValue(0.1 + 0.2), "0.3");
    EXPECT_EQ(formatValue(123456.789012345), "123456.789012345");
    EXPECT_EQ(formatValue(-0.001), "-0.001");
    QLocale::setDefault(QLocale::c());
}

TEST(Results, VariantsAndText)
{
    EXPECT_EQ(formatValue(QVariant::fromValue(QDBusVariant(QVariant(qint16(-7))))), "-7");
    EXPECT_EQ(formatValue(QVariant::fromValue(QDBusVariant(QVariant(2.5)))), "2.5");
    EXPECT_EQ(formatValue(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QVariantList())))), "Empty");
    EXPECT_EQ(formatValue(QVariant(QStringLiteral("  OK 1,5 "))), "  OK 1,5 ");
    EXPECT_EQ(formatValue(QVariant(true)), "true");
}

TEST(Results, OperationWithoutResultPrintsNothing)
{
    const Request r = parse({"--id", "0x60030003"}); // AzzeraLunghezza
    QDBusMessage reply =
        buildCall(r).createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QVariantList()))));
    EXPECT_EQ(formatReply(r, reply), "");

    const Request weight = parse({"LeggiPeso"});
    reply = buildCall(weight).createReply(QVariant(7.25));
    EXPECT_EQ(formatReply(weight, reply), "7.25");
}

TEST(Listing, OneLinePerOperationWithSlotIdentifierAndParameters)
{
    const QStringList lines = listOperations().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), qsizetype(declaredOperations().size()));
    EXPECT_EQ(lines[0], " 1  0x60030000  LeggiAltezza([Force: boolean = false]) -> double");
    EXPECT_EQ(lines[3], " 4  0x60030003  AzzeraLunghezza()");
    EXPECT_EQ(lines[10], "11  0x6003000b  ShowSampler([Show: boolean = true])");
    EXPECT_EQ(lines[24], "25  0x6003002e  ScriviServizio_CTM_MELSEC(MSCObj: port, parametri: text) -> text");
    EXPECT_EQ(lines[30], "31  0x60030036  LeggiPeso_BMC_507(MSCObj: port) -> any");
}

// Every built-in model has its section; a reply without a check is named as
// a limit; the MELSEC parameters are listed with the frames they send.
TEST(Listing, ModelsPagesComeFromTheTable)
{
    EXPECT_EQ(parse({"models", "--markdown"}).modelsPage, Request::Page::Markdown);
    EXPECT_EQ(parse({"models", "--man"}).modelsPage, Request::Page::Man);
    EXPECT_EQ(parse({"models"}).modelsPage, Request::Page::None);
    EXPECT_USAGE_ERROR(({"models", "--html"}), "unknown option '--html'");
    const QString page = modelsMarkdown();
    for (const InstrumentModel &row : builtInModels())
        EXPECT_TRUE(page.contains(QStringLiteral("\n## %1 %2\n").arg(row.brand, row.model))) << row.model.toStdString();
    const QString proface = page.section(QStringLiteral("## COMAR PROFACE"), 1).section(QStringLiteral("\n## "), 0, 0);
    EXPECT_TRUE(proface.contains(QLatin1String("LeggiPeso, LeggiLunghezza: the reply carries no check")))
        << proface.toStdString();
    EXPECT_TRUE(page.contains(QLatin1String("\"2\" sends `<STX>70608<ETX>08`")));
    EXPECT_TRUE(modelsManPage().startsWith(QLatin1String(".TH QUORVEX\\-INSTRUMENTS 7")));
}

TEST(Monitor, CommandsAndTheirArguments)
{
    EXPECT_EQ(parse({"ports"}).mode, Request::Mode::Ports);
    const Request all = parse({"monitor"});
    EXPECT_EQ(all.mode, Request::Mode::Monitor);
    EXPECT_EQ(all.monitorPort, QString());
    EXPECT_EQ(parse({"monitor", "/dev/ttyUSB0"}).monitorPort, "/dev/ttyUSB0");
    EXPECT_USAGE_ERROR(({"ports", "3"}), "ports takes no arguments");
    EXPECT_USAGE_ERROR(({"monitor", "3", "4"}), "at most one port");
    EXPECT_USAGE_ERROR(({"--watch", "100", "monitor"}), "--watch does not apply");
}

// A chunk longer than a line wraps under its first line's hex column, and
// bytes that do not print show as '.'; a port opened for one call is named
// by its device, and a filter by device also matches a link to it.
TEST(Monitor, TraceLinesAndPortFilter)
{
    TrafficChunk chunk;
    chunk.port = -1;
    chunk.device = QStringLiteral("/dev/ttyUSB0");
    chunk.timestampUs = 1'000'000'123'456;
    chunk.sent = false;
    chunk.bytes = QByteArray("\x02"
                             "0123456789abcdefXY\xff",
                             20);
    const QStringList lines = formatTraffic(chunk).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QLatin1String("123456  /dev/ttyUSB0  RX  02 30 31")));
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("65  .0123456789abcde"))) << lines[0].toStdString();
    const qsizetype column = lines[0].indexOf(QLatin1String("02 30"));
    EXPECT_EQ(lines[1].indexOf(QLatin1String("66 58 59 ff")), column) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QLatin1String("fXY."))) << lines[1].toStdString();

    EXPECT_TRUE(matchesPort(QString(), chunk));
    EXPECT_FALSE(matchesPort(QStringLiteral("3"), chunk));
    chunk.port = 3;
    EXPECT_TRUE(matchesPort(QStringLiteral("3"), chunk));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("tty"));
    const QString link = dir.filePath(QStringLiteral("by-id"));
    QFile(target).open(QIODevice::WriteOnly);
    QFile::link(target, link);
    chunk.device = target;
    EXPECT_TRUE(matchesPort(link, chunk));
    EXPECT_FALSE(matchesPort(dir.filePath(QStringLiteral("other")), chunk));
}

} // namespace

TEST(CliHistory, CommandsTakeTheirOwnOptionsAndRejectWhatTheyCannotUse)
{
    const Request coils =
        parseCommandLine({"--timeout", "5", "coils", "--since", "2026-03-01", "--limit", "7", "--csv"});
    ASSERT_EQ(coils.mode, Request::Mode::History);
    EXPECT_EQ(coils.timeoutMs, 5000);
    EXPECT_EQ(coils.history.sinceUs, QDate(2026, 3, 1).startOfDay().toMSecsSinceEpoch() * 1000);
    EXPECT_EQ(coils.history.limit, 7u);
    EXPECT_TRUE(coils.history.csv);
    EXPECT_EQ(parseCommandLine({"coil", "42"}).history.id, 42);
    for (const QStringList &bad :
         {QStringList{"coils", "--limit", "-1"}, QStringList{"coils", "--since", "soon"}, QStringList{"coil"},
          QStringList{"coil", "0"}, QStringList{"coil", "1", "--since", "today"}, QStringList{"history", "--csv"},
          QStringList{"coils", "--until"}})
        EXPECT_THROW(parseCommandLine(bad), UsageError) << bad.join(' ').toStdString();
}
