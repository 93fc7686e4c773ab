#include "drivers/scales/ContinuousScaleExchange.h"

#include "common/AutomationError.h"
#include "drivers/DriverSupport.h"
#include "drivers/LineExchange.h"
#include "drivers/scales/ContinuousScaleFrame.h"

namespace quorvex::exchanges {

namespace {

// Each window throws away what has piled up, waits for a window of fresh
// characters and looks for the marker in it.
QCoro::Task<QVariant> run(LineExchange &line, const Recipe &recipe, const QString &)
{
    for (int window = 1; window <= recipe.attempts; ++window) {
        line.discard();
        co_await letEventsRun();
        line.restartClock();
        const bool arrived = co_await line.waitFor(recipe.replyLength);
        if (!arrived)
            co_return fallbackValue(recipe.onSilence);
        QByteArray bytes = line.take();
        const int m = findMarker(bytes, recipe);
        if (m == 0) {
            line.discard();
            continue;
        }
        // A marker near the end of the window leaves its field partly
        // untransmitted; the scale is still sending it, so wait for the rest
        // (within what is left of this window's time-out) rather than read a
        // truncated number.
        bytes = bytes.mid(m - 1);
        if (bytes.size() < fieldEnd(recipe)) {
            const bool rest = co_await line.waitFor(int(fieldEnd(recipe) - bytes.size()));
            if (!rest)
                co_return fallbackValue(recipe.onSilence);
            bytes += line.take();
        }
        co_return parsedValue(recipe, bytes);
    }
    const QString marker = recipe.marker == '\r' ? QStringLiteral("CR") : QString(QLatin1Char(recipe.marker));
    line.fail(QStringLiteral("no %1 marker in %2 windows of the stream").arg(marker).arg(recipe.attempts));
    co_return fallbackValue(recipe.onNoMarker);
}

// A probe listens for one window's worth.
std::optional<ProbeTry> probeTry(const Recipe &recipe)
{
    return ProbeTry{{}, {}, recipe.replyLength};
}

// Every place a marker stands, until one is followed by a field that reads.
std::optional<double> probeReading(const Recipe &recipe, QByteArrayView bytes)
{
    for (qsizetype from = 0; from < bytes.size(); ++from) {
        const int at = findMarker(bytes.sliced(from), recipe);
        if (at == 0)
            return std::nullopt;
        const QByteArrayView field = bytes.sliced(from + at - 1);
        if (field.size() >= fieldEnd(recipe)) {
            try {
                return parseStreamField(field, recipe);
            } catch (const AutomationError &) {}
        }
        from += at - 1;
    }
    return std::nullopt;
}

PageWords pageWords(const Recipe &recipe)
{
    PageWords words;
    words.exchange = QStringLiteral("writes nothing: the instrument transmits; looks in windows of %1 characters "
                                    "(%2 at most, time-out %3 each) for the marker `%4`, the value %5 characters "
                                    "after it, %6 long; silence %7, no marker %8")
                         .arg(recipe.replyLength)
                         .arg(recipe.attempts)
                         .arg(pageSeconds(recipe.timeout), pageBytes(QByteArrayView(&recipe.marker, 1)))
                         .arg(recipe.fieldStart)
                         .arg(recipe.fieldLength)
                         .arg(pageFallback(recipe.onSilence), pageFallback(recipe.onNoMarker));
    noteSilentZero(recipe, words.limits);
    if (recipe.onNoMarker != Fallback::Empty)
        words.limits << QStringLiteral("a stream without the marker %1").arg(pageFallback(recipe.onNoMarker));
    return words;
}

} // namespace

const ExchangeKind streamWindow{
    .run = run,
    .sharesIdenticalReads = true,
    .probeTry = probeTry,
    .probeReading = probeReading,
    .pageWords = pageWords,
};

} // namespace quorvex::exchanges
