// Each attempt (Tentativi) is a request with its own reply clock; silence,
// a reply that does not read and a bad frame are asked again, an exception
// reply is the instrument's answer and is not. A reply that does not give a
// reading leaves its reason as the port's last error. Awaited results are
// kept in named locals before they are tested.
#include "drivers/DefinedExchanges.h"

#include "common/ByteText.h"
#include "drivers/DriverSupport.h"
#include "drivers/InstrumentDefinitions.h"
#include "drivers/LineExchange.h"
#include "drivers/ModbusRtuFrame.h"
#include "serial/LineSettings.h"

#include <algorithm>
#include <optional>

namespace quorvex::exchanges {

namespace {

// Adds what came in to bytes until at least n bytes are there; false when
// the reply clock ran out first.
QCoro::Task<bool> collect(LineExchange &line, QByteArray &bytes, qsizetype n)
{
    while (bytes.size() < n) {
        const bool more = co_await line.waitFor(1);
        if (!more)
            co_return false;
        bytes += line.take();
    }
    co_return true;
}

// Adds what came in to bytes until `end` occurs at or after from; its
// position, or -1 when the clock ran out.
QCoro::Task<qsizetype> collectUntil(LineExchange &line, QByteArray &bytes, const QByteArray &end, qsizetype from)
{
    for (;;) {
        const qsizetype at = bytes.indexOf(end, from);
        if (at >= 0)
            co_return at;
        const bool more = co_await line.waitFor(1);
        if (!more)
            co_return -1;
        bytes += line.take();
    }
}

// One frame of a reply or of the stream; nullopt on silence.
QCoro::Task<std::optional<QByteArray>> frame(LineExchange &line, const DefinedOperation &op)
{
    QByteArray bytes;
    const bool continuous = op.request.isEmpty();
    if (op.length > 0) {
        // A stream is read over two frames' worth, so a whole one is in it.
        const bool whole = co_await collect(line, bytes, continuous ? 2 * op.length : op.length);
        if (!whole)
            co_return std::nullopt;
        if (!continuous)
            co_return bytes.left(op.length);
        for (qsizetype at = 0; at + op.length <= bytes.size(); ++at) {
            const QByteArray candidate = bytes.mid(at, op.length);
            if (definedNumber(candidate, op))
                co_return candidate;
        }
        co_return bytes.left(op.length);
    }
    qsizetype start = 0;
    if (continuous) {
        // What precedes the first end is the tail of a frame already under way.
        const qsizetype first = co_await collectUntil(line, bytes, op.end, 0);
        if (first < 0)
            co_return std::nullopt;
        start = first + op.end.size();
    }
    const qsizetype at = co_await collectUntil(line, bytes, op.end, start);
    if (at < 0)
        co_return std::nullopt;
    co_return bytes.mid(start, at + op.end.size() - start);
}

QString shownBytes(const QByteArray &bytes)
{
    return QString::fromStdString(escapedBytes(std::string_view(bytes.left(64))));
}

QCoro::Task<QVariant> runText(LineExchange &line, const Recipe &recipe, const QString &)
{
    const DefinedOperation &op = *recipe.defined;
    const bool awaits = !op.end.isEmpty() || op.length > 0;
    QString why;
    for (int attempt = 0; attempt < recipe.attempts; ++attempt) {
        line.discard();
        if (op.request.isEmpty()) {
            co_await letEventsRun();
            line.restartClock();
        } else {
            line.send(op.request);
        }
        if (!awaits)
            co_return QVariant(0.0);
        const std::optional<QByteArray> reply = co_await frame(line, op);
        if (!reply) {
            why.clear(); // silence: the exchange tells the port's health
            continue;
        }
        line.discard();
        if (!op.format.isValid() || op.format.pattern().isEmpty())
            co_return QVariant(0.0); // a zeroing whose answer is not looked at
        if (const std::optional<double> value = definedNumber(*reply, op))
            co_return QVariant(*value);
        why = QStringLiteral("reply \"%1\" does not match Formato").arg(shownBytes(*reply));
    }
    if (!why.isEmpty())
        line.problem(why);
    co_return QVariant(0.0);
}

QCoro::Task<QVariant> runModbus(LineExchange &line, const Recipe &recipe, const QString &)
{
    const DefinedOperation &op = *recipe.defined;
    const std::optional<LineSettings> settings = LineSettings::parse(line.port().Settings());
    const auto silence = std::chrono::microseconds(modbusSilenceMicroseconds(settings ? settings->baud : 9600));
    const QByteArray request = modbusRequestFrame(op);
    QString why;
    for (int attempt = 0; attempt < recipe.attempts; ++attempt) {
        co_await line.quietFor(silence);
        line.discard();
        line.send(request);
        QByteArray reply;
        bool whole = co_await collect(line, reply, 2);
        const int length = modbusReplyLength(reply, op);
        if (whole)
            whole = co_await collect(line, reply, length);
        if (!whole) {
            why.clear(); // silence, or a reply cut short: the exchange tells the port's health
            continue;
        }
        const ModbusReading reading = readModbusReply(reply.left(length), op);
        if (reading.value)
            co_return QVariant(*reading.value);
        why = reading.problem;
        // An exception is the instrument's answer: asking again changes nothing.
        if (quint8(reply[1]) & 0x80)
            break;
    }
    if (!why.isEmpty())
        line.problem(why);
    co_return QVariant(0.0);
}

// Bytes awaited for a defined text reply that ends with a marker.
constexpr int kTextReplyBound = 64;

std::optional<ProbeTry> probeText(const Recipe &recipe)
{
    const DefinedOperation &op = *recipe.defined;
    // A reply framed by its end has no length: a bounded wait for one.
    const int length = recipe.replyLength > 0 ? recipe.replyLength : std::max<int>(op.example.size(), kTextReplyBound);
    return ProbeTry{op.request, {}, length};
}

// A defined text reply anywhere in bytes: each window of its length, or
// each piece up to its end.
std::optional<double> textReading(const Recipe &recipe, QByteArrayView bytes)
{
    const DefinedOperation &op = *recipe.defined;
    if (isEcho(bytes, op.request))
        return std::nullopt;
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

// Unit, function, byte count, the registers, CRC.
int modbusReadReplyLength(const DefinedOperation &op)
{
    return 5 + 2 * op.registerCount();
}

// Reads only: a write function is never sent by a probe.
std::optional<ProbeTry> probeModbus(const Recipe &recipe)
{
    const DefinedOperation &op = *recipe.defined;
    if (op.function != 3 && op.function != 4)
        return std::nullopt;
    return ProbeTry{.request = modbusRequestFrame(op),
                    .afterReading = {},
                    .replyLength = modbusReadReplyLength(op),
                    .crcChecked = true,
                    .quietCharacters = 3.5};
}

// A whole reply frame, with its CRC, anywhere in bytes.
std::optional<double> modbusReading(const Recipe &recipe, QByteArrayView bytes)
{
    const DefinedOperation &op = *recipe.defined;
    if (isEcho(bytes, modbusRequestFrame(op)))
        return std::nullopt;
    const int length = modbusReadReplyLength(op);
    for (qsizetype at = 0; at + length <= bytes.size(); ++at) {
        const ModbusReading reading = readModbusReply(bytes.sliced(at, length), op);
        if (reading.value)
            return reading.value;
    }
    return std::nullopt;
}

// Defined models are not on the page of built-in models; their file says
// what they do.
PageWords definedPage(const Recipe &)
{
    return {QStringLiteral("as its definition file says"), {}};
}

} // namespace

const ExchangeKind definedText{
    .run = runText,
    .sharesIdenticalReads = true,
    .probeTry = probeText,
    .probeReading = textReading,
    .pageWords = definedPage,
};

const ExchangeKind modbusRtu{
    .run = runModbus,
    .sharesIdenticalReads = true,
    .probeTry = probeModbus,
    .probeReading = modbusReading,
    .pageWords = definedPage,
};

} // namespace quorvex::exchanges
