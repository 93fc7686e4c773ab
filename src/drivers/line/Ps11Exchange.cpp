#include "drivers/line/Ps11Exchange.h"

#include "drivers/line/Ps11Frame.h"

namespace quorvex {

// Started once with DC1; each attempt takes a chunk of the stream and looks
// for a whole, valid frame in it. Every ending that gives a value writes
// DC3 first, so the scale is left quiet.
QCoro::Task<QVariant> ps11Stream(LineExchange &line, const InstrumentModel &model)
{
    Ps11Buffer buffer{};
    line.discard();
    line.send(QByteArrayView(&kPs11Start, 1));
    for (int attempt = 0; attempt < model.attempts; ++attempt) {
        if (attempt > 0)
            line.restartClock();
        const bool arrived = co_await line.waitFor(model.replyLength);
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
    line.fail(QStringLiteral("no whole, valid frame in %1 chunks of the stream").arg(model.attempts));
    co_return QVariant(0.0);
}

} // namespace quorvex
