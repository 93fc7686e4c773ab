#include "drivers/line/Ps11Exchange.h"

#include "drivers/LineExchange.h"
#include "drivers/line/Ps11Frame.h"

namespace quorvex::exchanges {

namespace {

// Started once with DC1; each attempt takes a chunk of the stream and looks
// for a whole, valid frame in it. Every ending that gives a value writes
// DC3 first, so the scale is left quiet.
QCoro::Task<QVariant> run(LineExchange &line, const Recipe &recipe, const QString &)
{
    Ps11Buffer buffer{};
    line.discard();
    line.send(QByteArrayView(&kPs11Start, 1));
    for (int attempt = 0; attempt < recipe.attempts; ++attempt) {
        if (attempt > 0)
            line.restartClock();
        const bool arrived = co_await line.waitFor(recipe.replyLength);
        if (!arrived)
            break;
        const QByteArray bytes = line.take();
        // Only a frame collected whole from these bytes counts: a frame cut
        // short would otherwise be completed by bytes of an older frame.
        if (!collectPs11Frame(bytes, buffer) || !ps11FrameValid(buffer)) {
            line.discard();
            continue;
        }
        line.send(QByteArrayView(&kPs11Stop, 1));
        const double weight = ps11Weight(buffer);
        line.discard();
        co_return QVariant(weight);
    }
    line.send(QByteArrayView(&kPs11Stop, 1));
    line.fail(QStringLiteral("no whole, valid frame in %1 chunks of the stream").arg(recipe.attempts));
    co_return QVariant(0.0);
}

// A probe starts the stream, and stops it once the bytes are in.
std::optional<ProbeTry> probeTry(const Recipe &recipe)
{
    return ProbeTry{QByteArray(1, kPs11Start), QByteArray(1, kPs11Stop), recipe.replyLength};
}

// A whole, valid frame starting anywhere in the bytes.
std::optional<double> probeReading(const Recipe &, QByteArrayView bytes)
{
    for (qsizetype from = 0; from + kPs11FrameLength <= bytes.size(); ++from) {
        Ps11Buffer buffer{};
        if (collectPs11Frame(bytes.sliced(from), buffer) && ps11FrameValid(buffer))
            return ps11Weight(buffer);
    }
    return std::nullopt;
}

PageWords pageWords(const Recipe &recipe)
{
    PageWords words;
    words.exchange = QStringLiteral("starts the stream with `<DC1>`, collects a whole binary frame (%1 bytes hold "
                                    "its start; %2 windows at most, time-out %3 each), stops it with `<DC3>`")
                         .arg(recipe.replyLength)
                         .arg(recipe.attempts)
                         .arg(pageSeconds(recipe.timeout));
    words.ownNumberFormat = true;
    return words;
}

} // namespace

const ExchangeKind ps11Stream{
    .run = run,
    .probeTry = probeTry,
    .probeReading = probeReading,
    .pageWords = pageWords,
};

} // namespace quorvex::exchanges
