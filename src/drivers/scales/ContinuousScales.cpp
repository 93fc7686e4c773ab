// Continuous scales: nothing is written. Each window throws away what has
// piled up, waits for a window's worth of fresh characters and looks for the
// marker in it; the weight field stands at a fixed distance after the
// marker. Up to ten windows per call.
#include "drivers/scales/ContinuousScales.h"

#include "drivers/DriverSupport.h"
#include "drivers/scales/ContinuousScaleFrame.h"

#include <QElapsedTimer>

namespace quorvex {

namespace {

constexpr int kMaxWindows = 10;

// What the port received, as text whatever its input mode: the FLYTN driver
// leaves the mode as it finds it, and bytes are read one character each.
QString takeText(PortControl &port)
{
    const QVariant input = port.Input();
    if (input.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(input.toByteArray());
    return input.toString();
}

QCoro::Task<QVariant> readContinuousScale(PortRef ref, const ContinuousScale &scale,
                                          QVariant silentResult, QVariant noMarkerResult)
{
    PortControl &port = requirePort(ref);
    if (scale.setsTextMode)
        port.setInputMode(PortControl::Text);
    for (int window = 1; window <= kMaxWindows; ++window) {
        port.setInBufferCount(0);
        co_await letEventsRun();
        QElapsedTimer clock;
        clock.start();
        const bool arrived = co_await waitForBytes(port, scale.window, scale.timeout);
        if (!arrived)
            co_return silentResult;
        QString text = takeText(port);
        const int m = findMarker(text, scale);
        if (m == 0) {
            port.setInBufferCount(0);
            continue;
        }
        // A marker near the end of the window leaves its field partly
        // untransmitted; the scale is still sending it, so wait for the rest
        // (within what is left of this window's time-out) rather than read a
        // truncated number.
        const int needed = fieldEnd(m, scale);
        if (text.size() < needed) {
            const auto left = std::max<qint64>(0, scale.timeout.count() - clock.elapsed());
            const bool rest = co_await waitForBytes(port, int(needed - text.size()),
                                                    std::chrono::milliseconds(left));
            if (!rest)
                co_return silentResult;
            text += takeText(port);
        }
        co_return QVariant(parseContinuousField(text, m, scale));
    }
    co_return noMarkerResult;
}

} // namespace

QCoro::Task<QVariant> LeggiPeso_EUROBIL_FLYTN(PortRef port)
{
    return readContinuousScale(std::move(port), kFlytn, QVariant(0.0), QVariant(0.0));
}

QCoro::Task<QVariant> LeggiPeso_PAVONE_MC100(PortRef port)
{
    return readContinuousScale(std::move(port), kMc100, QVariant(0.0), QVariant(0.0));
}

QCoro::Task<QVariant> LeggiPeso_BMC_507(PortRef port)
{
    return readContinuousScale(std::move(port), kBmc507, QVariant(), QVariant::fromValue(qint16(0)));
}

QCoro::Task<QVariant> LeggiPeso_ALFABILICI_807(PortRef port)
{
    return readContinuousScale(std::move(port), kAlfabilici807, QVariant(), QVariant::fromValue(qint16(0)));
}

} // namespace quorvex
