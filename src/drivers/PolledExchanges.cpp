#include "drivers/PolledExchanges.h"

#include "common/AutomationError.h"
#include "drivers/DriverSupport.h"
#include "drivers/LineExchange.h"

namespace quorvex::exchanges {

namespace {

// Discard, write, let pending events run once, wait for the reply.
QCoro::Task<QVariant> runRequest(LineExchange &line, const Recipe &recipe, const QString &)
{
    line.discard();
    line.send(recipe.request);
    co_await letEventsRun();
    const bool arrived = co_await line.waitFor(recipe.replyLength);
    if (!arrived)
        co_return fallbackValue(recipe.onSilence);
    co_return parsedValue(recipe, line.take());
}

// The request again while the reply fails its check; whatever followed a
// reply belongs to no request of ours and is dropped.
QCoro::Task<QVariant> runRequestUntilValid(LineExchange &line, const Recipe &recipe, const QString &)
{
    for (int attempt = 0; attempt < recipe.attempts; ++attempt) {
        line.discard();
        line.send(recipe.request);
        const bool arrived = co_await line.waitFor(recipe.replyLength);
        if (!arrived)
            co_return fallbackValue(recipe.onSilence);
        const QByteArray reply = line.take();
        const bool valid = recipe.check(reply);
        line.discard();
        if (valid)
            co_return parsedValue(recipe, reply);
    }
    line.fail(QStringLiteral("%1 replies in a row failed their check").arg(recipe.attempts));
    co_return QVariant(0.0);
}

// A command whose answer is not awaited: discard, write, and discard again
// at once, so nothing it may already have answered is kept.
QCoro::Task<QVariant> runCommand(LineExchange &line, const Recipe &recipe, const QString &)
{
    line.discard();
    line.send(recipe.request);
    line.discard();
    co_return QVariant(0.0);
}

std::optional<ProbeTry> probeRequest(const Recipe &recipe)
{
    return ProbeTry{QByteArray(recipe.request), {}, recipe.replyLength};
}

// A whole reply that passes the recipe's check, if it has one, and reads.
std::optional<double> replyReading(const Recipe &recipe, QByteArrayView bytes)
{
    if (isEcho(bytes, recipe.request))
        return std::nullopt;
    if (bytes.size() < recipe.replyLength || (recipe.check && !recipe.check(bytes)))
        return std::nullopt;
    try {
        const QVariant value = parsedValue(recipe, bytes);
        if (!value.isValid())
            return std::nullopt;
        return value.toDouble();
    } catch (const AutomationError &) {
        return std::nullopt;
    }
}

QString requestWords(const Recipe &recipe)
{
    return QStringLiteral("`%1`").arg(pageBytes(recipe.request));
}

PageWords requestPage(const Recipe &recipe)
{
    PageWords words;
    if (!recipe.parse) {
        words.exchange =
            QStringLiteral("writes %1 and consumes a reply of %2 characters without looking at it%3; "
                           "time-out %4, no retry")
                .arg(requestWords(recipe))
                .arg(recipe.replyLength)
                .arg(recipe.onSilence == Fallback::TypeMismatch ? QStringLiteral("; silence is the type-mismatch error")
                                                                : QString(),
                     pageSeconds(recipe.timeout));
        return words;
    }
    const QString field = recipe.fieldLength
        ? QStringLiteral("%1 characters from character %2").arg(recipe.fieldLength).arg(recipe.fieldStart)
        : QStringLiteral("the model's own frame");
    words.exchange = QStringLiteral("writes %1, awaits a reply of %2 characters, reads %3; silence %4; "
                                    "time-out %5, no retry")
                         .arg(requestWords(recipe))
                         .arg(recipe.replyLength)
                         .arg(field, pageFallback(recipe.onSilence), pageSeconds(recipe.timeout));
    words.limits << QStringLiteral("the reply carries no check; on a noisy line a damaged reply can be read as a "
                                   "wrong value");
    noteSilentZero(recipe, words.limits);
    return words;
}

PageWords requestUntilValidPage(const Recipe &recipe)
{
    PageWords words;
    words.exchange = QStringLiteral("writes %1, awaits a reply of %2 characters under a check, asking again while "
                                    "the check fails (%3 tries at most, time-out %4 each); silence %5")
                         .arg(requestWords(recipe))
                         .arg(recipe.replyLength)
                         .arg(recipe.attempts)
                         .arg(pageSeconds(recipe.timeout), pageFallback(recipe.onSilence));
    noteSilentZero(recipe, words.limits);
    return words;
}

PageWords commandPage(const Recipe &recipe)
{
    return {QStringLiteral("writes %1 and does not wait; whatever comes back is dropped").arg(requestWords(recipe)),
            {QStringLiteral("nothing is read back; a command lost on the line goes unnoticed")}};
}

} // namespace

const ExchangeKind request{
    .run = runRequest,
    .sharesIdenticalReads = true,
    .probeTry = probeRequest,
    .probeReading = replyReading,
    .pageWords = requestPage,
};

const ExchangeKind requestUntilValid{
    .run = runRequestUntilValid,
    .sharesIdenticalReads = true,
    .probeTry = probeRequest,
    .probeReading = replyReading,
    .pageWords = requestUntilValidPage,
};

const ExchangeKind command{
    .run = runCommand,
    .pageWords = commandPage,
};

} // namespace quorvex::exchanges
