#include "drivers/ProbeModels.h"

#include "common/AutomationError.h"
#include "drivers/LineExchange.h"
#include "drivers/line/Ps11Frame.h"
#include "drivers/scales/ContinuousScaleFrame.h"

#include <QStringList>
#include <algorithm>

namespace quorvex {

namespace {

// The reading operation of each role, in the order an open probe takes them.
const QStringList kReadings{QStringLiteral("LeggiPeso"), QStringLiteral("LeggiLunghezza"), QStringLiteral("LeggiAltezza")};

QString readingOf(const QString &role)
{
    if (role == QLatin1String("Bilancia"))
        return kReadings[0];
    if (role == QLatin1String("Contametri"))
        return kReadings[1];
    if (role == QLatin1String("Altezza"))
        return kReadings[2];
    return QString();
}

bool probeable(const InstrumentModel &row)
{
    switch (row.exchange) {
    case Exchange::Request:
    case Exchange::RequestUntilValid:
    case Exchange::StreamWindow:
    case Exchange::Ps11Stream:
        return !row.actsOnInstrument;
    case Exchange::Command:
    case Exchange::Handshake:
        return false;
    }
    return false;
}

ProbeModel describe(const ModelRow &entry, const InstrumentModel &row)
{
    ProbeModel model{entry.brand, entry.model, QLatin1String(row.operation), &row,
                     entry.settings, QByteArray(row.request), {}, row.replyLength};
    if (row.exchange == Exchange::Ps11Stream) {
        model.request = QByteArray(1, kPs11Start);
        model.afterReading = QByteArray(1, kPs11Stop);
    } else if (row.exchange == Exchange::StreamWindow) {
        model.request.clear();
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

} // namespace

std::optional<std::vector<ProbeModel>> probeModels(const QString &role)
{
    const QString wanted = readingOf(role);
    if (!role.isEmpty() && wanted.isEmpty())
        return std::nullopt;
    std::vector<ProbeModel> models;
    for (const QString &reading : role.isEmpty() ? kReadings : QStringList{wanted}) {
        for (const ModelRow &model : builtInModels()) {
            const auto op = std::find_if(model.operations.begin(), model.operations.end(), [&](const InstrumentModel *row) {
                return reading == QLatin1String(row->operation) && probeable(*row);
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
    if (bytes.startsWith(model.request))
        return std::nullopt; // the line echoes: what came back is our own request
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
