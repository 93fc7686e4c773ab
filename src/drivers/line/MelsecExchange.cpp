#include "drivers/line/MelsecExchange.h"

#include "drivers/line/MelsecFrame.h"

namespace quorvex {

// ENQ, wait for the controller; on ACK send the frame the parameters
// select; then wait once more for the controller's answer and drop it.
QCoro::Task<QVariant> handshake(LineExchange &line, const InstrumentModel &model, const QString &parametri)
{
    const QString result;
    line.discard();
    line.send(QByteArrayView(&kMelsecEnq, 1));
    const bool arrived = co_await line.waitFor(1);
    if (!arrived)
        co_return QVariant(result);
    const QString answer = QString::fromLatin1(line.take());
    const QByteArray frame = melsecCommandFrame(parametri);
    if (melsecAcknowledged(answer) && !frame.isEmpty())
        line.send(frame);
    else
        line.restartClock();
    const bool answered = co_await line.waitFor(1);
    if (answered)
        line.take();
    co_return QVariant(result);
}

} // namespace quorvex
