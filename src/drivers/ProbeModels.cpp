#include "drivers/ProbeModels.h"

#include "common/AutomationError.h"
#include "drivers/InstrumentDefinitions.h"
#include "drivers/LineExchange.h"
#include "drivers/ModbusRtuFrame.h"
#include "drivers/line/Ps11Frame.h"
#include "drivers/scales/ContinuousScaleFrame.h"

#include <QStringList>
#include <algorithm>

namespace quorvex {

namespace {

bool probeable(const InstrumentModel &row)
{
    switch (row.exchange) {
    case Exchange::Request:
    case Exchange::RequestUntilValid:
    case Exchange::StreamWindow:
    case Exchange::Ps11Stream:
        return !row.actsOnInstrument;
    case Exchange::DefinedText:
        return !row.actsOnInstrument;
    case Exchange::ModbusRtu: // reads only: a write function is never sent by a probe
        return !row.actsOnInstrument && (row.defined->function == 3 || row.defined->function == 4);
    case Exchange::Command:
    case Exchange::Handshake:
        return false;
    }
    return false;
}

// Bytes awaited for a defined text reply that ends with a marker.
constexpr int kDefinedReplyBound = 64;

ProbeModel describe(const ModelRow &entry, const InstrumentModel &row)
{
    ProbeModel model{entry.brand, entry.model, QLatin1String(row.operation), &row,
                     entry.settings, QByteArray(row.request), {}, row.replyLength};
    if (row.exchange == Exchange::Ps11Stream) {
        model.request = QByteArray(1, kPs11Start);
        model.afterReading = QByteArray(1, kPs11Stop);
    } else if (row.exchange == Exchange::StreamWindow) {
        model.request.clear();
    } else if (row.exchange == Exchange::DefinedText) {
        // A reply framed by its end has no length: a bounded wait for one.
        model.request = row.defined->request;
        if (model.replyLength == 0)
            model.replyLength = std::max<int>(row.defined->example.size(), kDefinedReplyBound);
    } else if (row.exchange == Exchange::ModbusRtu) {
        model.request = modbusRequestFrame(*row.defined);
        model.replyLength = 5 + 2 * row.defined->registerCount(); // unit, function, count, registers, CRC
    }
    return model;
}

std::optional<double> streamReading(const InstrumentModel &row, QByteArrayView bytes)
{
    // Every place a marker stands, until one is followed by a field that reads.
    for (qsizetype from = 0; from < bytes.size(); ++from) {
        const int at = findMarker(bytes.sliced(from), row);
        if (at == 0)
            return std::nullopt;
        const QByteArrayView field = bytes.sliced(from + at - 1);
        if (field.size() >= fieldEnd(row)) {
            try {
                return parseStreamField(field, row);
            } catch (const AutomationError &) {
            }
        }
        from += at - 1;
    }
    return std::nullopt;
}

// A defined text reply anywhere in bytes: each window of its length, or
// each piece up to its end.
std::optional<double> definedTextReading(const DefinedOperation &op, QByteArrayView bytes)
{
    if (op.length > 0) {
        for (qsizetype at = 0; at + op.length <= bytes.size(); ++at) {
            if (const std::optional<double> value = definedNumber(bytes.sliced(at, op.length), op))
                return value;
        }
        return std::nullopt;
    }
    qsizetype from = 0;
    for (qsizetype end = bytes.indexOf(op.end); end >= 0; end = bytes.indexOf(op.end, from)) {
        if (const std::optional<double> value = definedNumber(bytes.sliced(from, end + op.end.size() - from), op))
            return value;
        from = end + op.end.size();
    }
    return std::nullopt;
}

std::optional<double> modbusReading(const ProbeModel &model, QByteArrayView bytes)
{
    for (qsizetype at = 0; at + model.replyLength <= bytes.size(); ++at) {
        const ModbusReading reading = readModbusReply(bytes.sliced(at, model.replyLength), *model.row->defined);
        if (reading.value)
            return reading.value;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<ProbeModel>> probeModels(const QString &role)
{
    const QString wanted = readingOperationOf(role);
    if (!role.isEmpty() && wanted.isEmpty())
        return std::nullopt;
    std::vector<ProbeModel> models;
    // An open probe takes the reading roles in their order.
    QStringList readings{wanted};
    if (role.isEmpty()) {
        readings.clear();
        for (int r = 0; r < kReadingRoleCount; ++r)
            readings << QLatin1String(operationName(*readingOf(Role(r))));
    }
    for (const QString &reading : readings) {
        for (const ModelRow *entry : knownModels()) {
            const ModelRow &model = *entry;
            const auto op = std::find_if(model.operations.begin(), model.operations.end(), [&](const InstrumentModel *recipe) {
                return reading == QLatin1String(recipe->operation) && probeable(*recipe);
            });
            if (op == model.operations.end())
                continue;
            const bool known = std::any_of(models.begin(), models.end(), [&](const ProbeModel &m) {
                return m.brand == model.brand && m.model == model.model;
            });
            if (!known)
                models.push_back(describe(model, **op));
        }
    }
    return models;
}

std::optional<double> probeReading(const ProbeModel &model, QByteArrayView bytes)
{
    const InstrumentModel &row = *model.row;
    if (row.exchange == Exchange::StreamWindow)
        return streamReading(row, bytes);
    if (row.exchange == Exchange::Ps11Stream) {
        for (qsizetype from = 0; from + kPs11FrameLength <= bytes.size(); ++from) {
            Ps11Buffer buffer{};
            if (collectPs11Frame(bytes.sliced(from), buffer) && ps11FrameValid(buffer))
                return ps11Weight(buffer);
        }
        return std::nullopt;
    }
    if (!model.request.isEmpty() && bytes.startsWith(model.request))
        return std::nullopt; // the line echoes: what came back is our own request
    if (row.exchange == Exchange::DefinedText)
        return definedTextReading(*row.defined, bytes);
    if (row.exchange == Exchange::ModbusRtu)
        return modbusReading(model, bytes);
    if (bytes.size() < row.replyLength || (row.check && !row.check(bytes)))
        return std::nullopt;
    try {
        const QVariant value = parsedValue(row, bytes);
        if (!value.isValid())
            return std::nullopt;
        return value.toDouble();
    } catch (const AutomationError &) {
        return std::nullopt;
    }
}

} // namespace quorvex
