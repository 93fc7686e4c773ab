#include "drivers/scales/ContinuousScaleExchange.h"

#include "drivers/DriverSupport.h"
#include "drivers/scales/ContinuousScaleFrame.h"

namespace quorvex {

// Each window throws away what has piled up, waits for a window of fresh
// characters and looks for the marker in it.
QCoro::Task<QVariant> streamWindow(LineExchange &line, const InstrumentModel &model)
{
    for (int window = 1; window <= model.attempts; ++window) {
        line.discard();
        co_await letEventsRun();
        line.restartClock();
        const bool arrived = co_await line.waitFor(model.replyLength);
        if (!arrived)
            co_return fallbackValue(model.onSilence);
        QByteArray bytes = line.take();
        const int m = findMarker(bytes, model);
        if (m == 0) {
            line.discard();
            continue;
        }
        // A marker near the end of the window leaves its field partly
        // untransmitted; the scale is still sending it, so wait for the rest
        // (within what is left of this window's time-out) rather than read a
        // truncated number.
        bytes = bytes.mid(m - 1);
        if (bytes.size() < fieldEnd(model)) {
            const bool rest = co_await line.waitFor(int(fieldEnd(model) - bytes.size()));
            if (!rest)
                co_return fallbackValue(model.onSilence);
            bytes += line.take();
        }
        co_return parsedValue(model, bytes);
    }
    const QString marker = model.marker == '\r' ? QStringLiteral("CR") : QString(QLatin1Char(model.marker));
    line.fail(QStringLiteral("no %1 marker in %2 windows of the stream").arg(marker).arg(model.attempts));
    co_return fallbackValue(model.onNoMarker);
}

} // namespace quorvex
