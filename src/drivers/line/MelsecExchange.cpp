#include "drivers/line/MelsecExchange.h"

#include "common/Logging.h"
#include "drivers/LineExchange.h"
#include "drivers/line/MelsecFrame.h"

namespace quorvex::exchanges {

namespace {

// ENQ, wait for the controller; on ACK send the frame the parameters
// select; then wait once more for the controller's answer and drop it.
QCoro::Task<QVariant> run(LineExchange &line, const Recipe &, const QString &parametri)
{
    const QString result;
    const QByteArray frame = melsecCommandFrame(parametri);
    if (frame.isEmpty()) {
        qCWarning(lcDriver).noquote() << QStringLiteral("ScriviServizio: the MELSEC service command knows the"
                                                        " parameters \"1\", \"2\" and \"3\", not %1: no command sent")
                                             .arg(quotedForLog(parametri));
        line.fail(QStringLiteral("unknown service parameter %1 (accepted: \"1\", \"2\", \"3\")")
                      .arg(quotedForLog(parametri)));
    }
    line.discard();
    line.send(QByteArrayView(&kMelsecEnq, 1));
    const bool arrived = co_await line.waitFor(1);
    if (!arrived)
        co_return QVariant(result);
    const QByteArray answer = line.take();
    if (melsecAcknowledged(answer) && !frame.isEmpty())
        line.send(frame);
    else
        line.restartClock();
    const bool answered = co_await line.waitFor(1);
    if (answered)
        line.take();
    co_return QVariant(result);
}

PageWords pageWords(const Recipe &recipe)
{
    QStringList accepted;
    for (const char *p : {"1", "2", "3"})
        accepted << QStringLiteral("\"%1\" sends `%2`")
                        .arg(QLatin1String(p), pageBytes(melsecCommandFrame(QLatin1String(p))));
    return {QStringLiteral("writes `<ENQ>`; on `<ACK>` sends the frame the parameter selects: %1; any other "
                           "parameter sends no frame. The answer is dropped, never retried; the result is "
                           "always the empty text; time-out %2 each wait")
                .arg(accepted.join(QStringLiteral(", ")), pageSeconds(recipe.timeout)),
            {}};
}

} // namespace

// A probe never sends it: it acts on the controller.
const ExchangeKind handshake{
    .run = run,
    .givesText = true,
    .pageWords = pageWords,
};

} // namespace quorvex::exchanges
