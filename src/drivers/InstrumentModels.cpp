// The table of instrument models: one row per operation of a model. A
// row's time-out bounds the wait for the line's turn and each wait for a
// reply, counted from the moment the request is written.
#include "drivers/InstrumentModel.h"

#include "drivers/FieldConversion.h"
#include "drivers/line/ComarProfaceFrame.h"
#include "drivers/line/CtmCounterFrame.h"
#include "drivers/line/RlcControllerFrame.h"
#include "drivers/scales/ContinuousScaleFrame.h"

namespace quorvex {

using namespace std::chrono_literals;

namespace {

double ctmCount(const QString &reply, const InstrumentModel &) { return parseCtmCount(reply); }
double rlcLength(const QString &reply, const InstrumentModel &) { return rlcFieldValue(reply, RlcField::Length); }
double rlcWeight(const QString &reply, const InstrumentModel &) { return rlcFieldValue(reply, RlcField::Weight); }
double profaceReading(const QString &reply, const InstrumentModel &) { return parseProfaceReading(reply.toLatin1()); }

const InstrumentModel kModels[] = {
    // Scales that answer a request with the weight in the leading characters.
    {.operation = "LeggiPeso", .brand = "BILANCIAI", .model = "D400", .exchange = Exchange::Request,
     .request = "XB\r", .replyLength = 15, .timeout = 2s,
     .fieldStart = 1, .fieldLength = 9, .decimalMark = ',', .parse = parseFixedField},
    {.operation = "LeggiTara", .brand = "BILANCIAI", .model = "D400", .exchange = Exchange::Request,
     .request = "XT\r", .replyLength = 15, .timeout = 2s,
     .fieldStart = 1, .fieldLength = 9, .decimalMark = ',', .parse = parseFixedField},
    {.operation = "LeggiPeso", .brand = "EUROBIL", .model = "BC100M", .exchange = Exchange::Request,
     .request = "$", .replyLength = 8,
     .timeout = 22s, // the BC100M answers only once its weight has settled
     .fieldStart = 1, .fieldLength = 7, .parse = parseFixedField},

    // Scales that transmit on their own: the weight stands fieldStart
    // characters after the marker, searched in up to ten windows.
    {.operation = "LeggiPeso", .brand = "EUROBIL", .model = "FLYTN", .exchange = Exchange::StreamWindow,
     .replyLength = 12, .timeout = 2s, .attempts = 10,
     .marker = '\r', .fieldStart = 2, .fieldLength = 6, .parse = parseStreamField},
    {.operation = "LeggiPeso", .brand = "PAVONE", .model = "MC100", .exchange = Exchange::StreamWindow,
     .replyLength = 38, .timeout = 2s, .attempts = 10,
     .marker = '\x02', .fieldStart = 8, .fieldLength = 6,
     .decimalMark = 0, // "." groups digits and is dropped
     .parse = parseStreamField},
    {.operation = "LeggiPeso", .brand = "BMC", .model = "507", .exchange = Exchange::StreamWindow,
     .replyLength = 43,
     .timeout = 22s, // a window may wait for a slow frame rate
     .attempts = 10, .marker = '$', .fieldStart = 2, .fieldLength = 6, .parse = parseStreamField,
     .onSilence = Fallback::Empty, .onNoMarker = Fallback::WholeZero},
    {.operation = "LeggiPeso", .brand = "ALFABILICI", .model = "807", .exchange = Exchange::StreamWindow,
     .replyLength = 43,
     .timeout = 22s, // a window may wait for a slow frame rate
     .attempts = 10, .marker = '$', .fieldStart = 1, .fieldLength = 7, .parse = parseStreamField,
     .onSilence = Fallback::Empty, .onNoMarker = Fallback::WholeZero},

    // The CTM counter: the count under a check character, asked for again
    // while the check fails; the height sensor of the same make reads alike.
    {.operation = "LeggiLunghezza", .brand = "CTM", .model = "1", .exchange = Exchange::RequestUntilValid,
     .request = "\x02P\r", .replyLength = 8, .timeout = 2s, .attempts = 10, .parse = ctmCount,
     .check = ctmReplyChecks},
    {.operation = "LeggiAltezza", .brand = "CTM", .model = "1", .exchange = Exchange::RequestUntilValid,
     .request = "\x02P\r", .replyLength = 8, .timeout = 2s, .attempts = 10, .parse = ctmCount,
     .check = ctmReplyChecks},
    {.operation = "AzzeraLunghezza", .brand = "CTM", .model = "1", .exchange = Exchange::Command,
     .request = "\x02" "A\r"},
    // The PS11 weight stream: binary frames between DC1 and DC3; replyLength
    // bytes always hold the start of a frame.
    {.operation = "LeggiPeso", .brand = "CTM", .model = "PS11", .exchange = Exchange::Ps11Stream,
     .replyLength = 21, .timeout = 2s, .attempts = 10},

    // ELAP counters: one text protocol; the models differ in where the
    // value stands. The weight operation reads the same value.
    {.operation = "LeggiLunghezza", .brand = "ELAP", .model = "CM78", .exchange = Exchange::Request,
     .request = "@r01\r", .replyLength = 18, .timeout = 2s, .fieldStart = 7, .fieldLength = 8,
     .parse = parseFixedField},
    {.operation = "LeggiPeso", .brand = "ELAP", .model = "CM78", .exchange = Exchange::Request,
     .request = "@r01\r", .replyLength = 18, .timeout = 2s, .fieldStart = 7, .fieldLength = 8,
     .parse = parseFixedField},
    {.operation = "AzzeraLunghezza", .brand = "ELAP", .model = "CM78", .exchange = Exchange::Command,
     .request = "@R01\r"},
    {.operation = "LeggiLunghezza", .brand = "ELAP", .model = "CM78A", .exchange = Exchange::Request,
     .request = "@r01\r", .replyLength = 13, .timeout = 2s, .fieldStart = 3, .fieldLength = 7,
     .parse = parseFixedField},
    {.operation = "LeggiPeso", .brand = "ELAP", .model = "CM78A", .exchange = Exchange::Request,
     .request = "@r01\r", .replyLength = 13, .timeout = 2s, .fieldStart = 3, .fieldLength = 7,
     .parse = parseFixedField},
    {.operation = "AzzeraLunghezza", .brand = "ELAP", .model = "CM78A", .exchange = Exchange::Command,
     .request = "@R01\r"},

    // The RLC controller: length and weight in one status reply under a
    // checksum. Silence is an error, so a direct caller can tell it from 0.
    {.operation = "LeggiLunghezza", .brand = "RLC", .model = "1", .exchange = Exchange::RequestUntilValid,
     .request = "<0161>", .replyLength = 22,
     .timeout = 20s, // the controller answers between its own control cycles
     .attempts = 10, .parse = rlcLength, .check = rlcChecksumMatches, .onSilence = Fallback::TypeMismatch},
    {.operation = "LeggiPeso", .brand = "RLC", .model = "1", .exchange = Exchange::RequestUntilValid,
     .request = "<0161>", .replyLength = 22,
     .timeout = 20s, // the controller answers between its own control cycles
     .attempts = 10, .parse = rlcWeight, .check = rlcChecksumMatches, .onSilence = Fallback::TypeMismatch},
    // Written once (a repeated zero could land after the line moved on); the
    // answer carries nothing used.
    {.operation = "AzzeraLunghezza", .brand = "RLC", .model = "1", .exchange = Exchange::Request,
     .request = "<0262>", .replyLength = 6,
     .timeout = 20s, // the controller answers between its own control cycles
     .onSilence = Fallback::TypeMismatch, .actsOnInstrument = true},

    // The COMAR PROFACE: readings as a 16-bit number in bytes 6 and 7; the
    // zero command's answer is consumed and not looked at.
    {.operation = "LeggiPeso", .brand = "COMAR", .model = "PROFACE", .exchange = Exchange::Request,
     .request = "@2\r", .replyLength = 9, .timeout = 2s, .parse = profaceReading},
    {.operation = "LeggiLunghezza", .brand = "COMAR", .model = "PROFACE", .exchange = Exchange::Request,
     .request = "@1\r", .replyLength = 9, .timeout = 2s, .parse = profaceReading},
    {.operation = "AzzeraLunghezza", .brand = "COMAR", .model = "PROFACE", .exchange = Exchange::Request,
     .request = "@3\r", .replyLength = 10, .timeout = 2s, .actsOnInstrument = true},

    // The MELSEC service command: ENQ, ACK, then the frame the parameters
    // select; never retried, the result is always the empty text.
    {.operation = "ScriviServizio", .brand = "CTM", .model = "MELSEC", .exchange = Exchange::Handshake,
     .timeout = 2s},
};

} // namespace

std::span<const InstrumentModel> instrumentModels()
{
    return kModels;
}

QString driverName(const InstrumentModel &model)
{
    return QStringLiteral("%1_%2_%3").arg(QLatin1String(model.operation), QLatin1String(model.brand),
                                          QLatin1String(model.model));
}

const InstrumentModel *findInstrumentModel(const QString &name)
{
    for (const InstrumentModel &model : kModels) {
        if (name.compare(driverName(model), Qt::CaseInsensitive) == 0)
            return &model;
    }
    return nullptr;
}

const InstrumentModel *findInstrumentModel(const QString &operation, const QString &brand, const QString &model)
{
    // Joined as the name of a driver operation, so a brand or model with
    // blanks or "_" in it matches exactly what that name would.
    return findInstrumentModel(operation + QLatin1Char('_') + brand + QLatin1Char('_') + model);
}

double parseFixedField(const QString &reply, const InstrumentModel &model)
{
    return convertField(mid1(reply, model.fieldStart, model.fieldLength), QLatin1Char(model.decimalMark));
}

} // namespace quorvex
