// The table of built-in instrument models: one row per model. A recipe's
// time-out bounds the wait for the line's turn and each wait for a
// reply, counted from the moment the request is written.
#include "drivers/InstrumentModel.h"

#include "drivers/FieldConversion.h"
#include "drivers/PolledExchanges.h"
#include "drivers/line/ComarProfaceFrame.h"
#include "drivers/line/CtmCounterFrame.h"
#include "drivers/line/MelsecExchange.h"
#include "drivers/line/Ps11Exchange.h"
#include "drivers/line/RlcControllerFrame.h"
#include "drivers/scales/ContinuousScaleExchange.h"
#include "drivers/scales/ContinuousScaleFrame.h"
#include "serial/LineSettings.h"

#include <vector>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

double ctmCount(QByteArrayView reply, const Recipe &)
{
    return parseCtmCount(reply);
}
double rlcLength(QByteArrayView reply, const Recipe &)
{
    return rlcFieldValue(reply, RlcField::Length);
}
double rlcWeight(QByteArrayView reply, const Recipe &)
{
    return rlcFieldValue(reply, RlcField::Weight);
}
double profaceReading(QByteArrayView reply, const Recipe &)
{
    return parseProfaceReading(reply);
}

// One row per model: its brand and model as configured, the line settings
// it is usually found at, and one recipe per operation it serves.
struct BuiltInModel {
    const char *brand;
    const char *model;
    const char *settings;
    Recipe operations[kMaxOperationsPerModel];
};

// The table keeps its columns: one model a row, read across.
// clang-format off
const BuiltInModel kBuiltIn[] = {
    // Scales that answer a request with the weight in the leading characters.
    {"BILANCIAI", "D400", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::request, .request = "XB\r", .replyLength = 15, .timeout = 2s,
       .fieldStart = 1, .fieldLength = 9, .decimalMark = ',', .parse = parseFixedField},
      {.operation = "LeggiTara", .exchange = &exchanges::request, .request = "XT\r", .replyLength = 15, .timeout = 2s,
       .fieldStart = 1, .fieldLength = 9, .decimalMark = ',', .parse = parseFixedField}}},
    {"EUROBIL", "BC100M", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::request, .request = "$", .replyLength = 8,
       .timeout = 22s, // the BC100M answers only once its weight has settled
       .fieldStart = 1, .fieldLength = 7, .parse = parseFixedField}}},

    // Scales that transmit on their own: the weight stands fieldStart
    // characters after the marker, searched in up to ten windows.
    {"EUROBIL", "FLYTN", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::streamWindow, .replyLength = 12, .timeout = 2s, .attempts = 10,
       .marker = '\r', .fieldStart = 2, .fieldLength = 6, .parse = parseStreamField}}},
    {"PAVONE", "MC100", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::streamWindow, .replyLength = 38, .timeout = 2s, .attempts = 10,
       .marker = '\x02', .fieldStart = 8, .fieldLength = 6,
       .decimalMark = 0, // "." groups digits and is dropped
       .parse = parseStreamField}}},
    {"BMC", "507", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::streamWindow, .replyLength = 43,
       .timeout = 22s, // a window may wait for a slow frame rate
       .attempts = 10, .marker = '$', .fieldStart = 2, .fieldLength = 6, .parse = parseStreamField,
       .onSilence = Fallback::Empty, .onNoMarker = Fallback::WholeZero}}},
    {"ALFABILICI", "807", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::streamWindow, .replyLength = 43,
       .timeout = 22s, // a window may wait for a slow frame rate
       .attempts = 10, .marker = '$', .fieldStart = 1, .fieldLength = 7, .parse = parseStreamField,
       .onSilence = Fallback::Empty, .onNoMarker = Fallback::WholeZero}}},

    // The CTM counter: the count under a check character, asked for again
    // while the check fails; the height sensor of the same make reads alike.
    {"CTM", "1", kUsualLineSettings,
     {{.operation = "LeggiLunghezza", .exchange = &exchanges::requestUntilValid, .request = "\x02P\r", .replyLength = 8,
       .timeout = 2s, .attempts = 10, .parse = ctmCount, .check = ctmReplyChecks},
      {.operation = "LeggiAltezza", .exchange = &exchanges::requestUntilValid, .request = "\x02P\r", .replyLength = 8,
       .timeout = 2s, .attempts = 10, .parse = ctmCount, .check = ctmReplyChecks},
      {.operation = "AzzeraLunghezza", .exchange = &exchanges::command, .request = "\x02" "A\r"}}},
    // The PS11 weight stream: binary frames between DC1 and DC3; replyLength
    // bytes always hold the start of a frame.
    {"CTM", "PS11", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::ps11Stream, .replyLength = 21, .timeout = 2s,
       .attempts = 10}}},

    // ELAP counters: one text protocol; the models differ in where the
    // value stands. The weight operation reads the same value.
    {"ELAP", "CM78", kUsualLineSettings,
     {{.operation = "LeggiLunghezza", .exchange = &exchanges::request, .request = "@r01\r", .replyLength = 18,
       .timeout = 2s, .fieldStart = 7, .fieldLength = 8, .parse = parseFixedField},
      {.operation = "LeggiPeso", .exchange = &exchanges::request, .request = "@r01\r", .replyLength = 18, .timeout = 2s,
       .fieldStart = 7, .fieldLength = 8, .parse = parseFixedField},
      {.operation = "AzzeraLunghezza", .exchange = &exchanges::command, .request = "@R01\r"}}},
    {"ELAP", "CM78A", kUsualLineSettings,
     {{.operation = "LeggiLunghezza", .exchange = &exchanges::request, .request = "@r01\r", .replyLength = 13,
       .timeout = 2s, .fieldStart = 3, .fieldLength = 7, .parse = parseFixedField},
      {.operation = "LeggiPeso", .exchange = &exchanges::request, .request = "@r01\r", .replyLength = 13, .timeout = 2s,
       .fieldStart = 3, .fieldLength = 7, .parse = parseFixedField},
      {.operation = "AzzeraLunghezza", .exchange = &exchanges::command, .request = "@R01\r"}}},

    // The RLC controller: length and weight in one status reply under a
    // checksum. Silence is an error, so a direct caller can tell it from 0.
    // The controller answers between its own control cycles, hence 20 s.
    // The zero is written once (a repeated zero could land after the line
    // moved on); its answer carries nothing used.
    {"RLC", "1", kUsualLineSettings,
     {{.operation = "LeggiLunghezza", .exchange = &exchanges::requestUntilValid, .request = "<0161>", .replyLength = 22,
       .timeout = 20s, .attempts = 10, .parse = rlcLength, .check = rlcChecksumMatches,
       .onSilence = Fallback::TypeMismatch},
      {.operation = "LeggiPeso", .exchange = &exchanges::requestUntilValid, .request = "<0161>", .replyLength = 22,
       .timeout = 20s, .attempts = 10, .parse = rlcWeight, .check = rlcChecksumMatches,
       .onSilence = Fallback::TypeMismatch},
      {.operation = "AzzeraLunghezza", .exchange = &exchanges::request, .request = "<0262>", .replyLength = 6,
       .timeout = 20s, .onSilence = Fallback::TypeMismatch, .actsOnInstrument = true}}},

    // The COMAR PROFACE: readings as a 16-bit number in bytes 6 and 7; the
    // zero command's answer is consumed and not looked at.
    {"COMAR", "PROFACE", kUsualLineSettings,
     {{.operation = "LeggiPeso", .exchange = &exchanges::request, .request = "@2\r", .replyLength = 9, .timeout = 2s,
       .parse = profaceReading},
      {.operation = "LeggiLunghezza", .exchange = &exchanges::request, .request = "@1\r", .replyLength = 9,
       .timeout = 2s, .parse = profaceReading},
      {.operation = "AzzeraLunghezza", .exchange = &exchanges::request, .request = "@3\r", .replyLength = 10,
       .timeout = 2s, .actsOnInstrument = true}}},

    // The MELSEC service command: ENQ, ACK, then the frame the parameters
    // select; never retried, the result is always the empty text.
    {"CTM", "MELSEC", kUsualLineSettings,
     {{.operation = "ScriviServizio", .exchange = &exchanges::handshake, .timeout = 2s}}},
};
// clang-format on

// The recipes with their brand and model filled in, and the model rows
// pointing at them; built once, never moved.
struct BuiltInTables {
    std::vector<Recipe> recipes;
    std::vector<InstrumentModel> rows;

    BuiltInTables()
    {
        for (const BuiltInModel &m : kBuiltIn) {
            for (const Recipe &op : m.operations) {
                if (!op.operation)
                    break;
                Recipe recipe = op;
                recipe.brand = m.brand;
                recipe.model = m.model;
                recipes.push_back(recipe);
            }
        }
        const Recipe *next = recipes.data();
        for (const BuiltInModel &m : kBuiltIn) {
            InstrumentModel row{
                QLatin1String(m.brand), QLatin1String(m.model), QLatin1String(m.settings), QString(), {}};
            for (const Recipe &op : m.operations) {
                if (op.operation)
                    row.operations.push_back(next++);
            }
            rows.push_back(std::move(row));
        }
    }
};

const BuiltInTables &builtIn()
{
    static const BuiltInTables tables;
    return tables;
}

} // namespace

std::span<const Recipe> builtInRecipes()
{
    return builtIn().recipes;
}

std::span<const InstrumentModel> builtInModels()
{
    return builtIn().rows;
}

QStringList InstrumentModel::operationNames() const
{
    QStringList names;
    for (const Recipe *op : operations)
        names << QLatin1String(op->operation);
    return names;
}

QString driverName(const Recipe &recipe)
{
    return QStringLiteral("%1_%2_%3")
        .arg(QLatin1String(recipe.operation), QLatin1String(recipe.brand), QLatin1String(recipe.model));
}

const Recipe *findRecipe(const QString &name)
{
    for (const Recipe &recipe : builtIn().recipes) {
        if (name.compare(driverName(recipe), Qt::CaseInsensitive) == 0)
            return &recipe;
    }
    return nullptr;
}

double parseFixedField(QByteArrayView reply, const Recipe &recipe)
{
    return convertField(mid1(reply, recipe.fieldStart, recipe.fieldLength), recipe.decimalMark);
}

} // namespace quorvex
