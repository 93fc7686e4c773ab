// Polled scales: discard what is waiting, write the request, wait once for
// the reply and convert its leading field. A single request per call; a
// scale that answers too little or too late gives 0.
#include "drivers/scales/PolledScales.h"

#include "drivers/DriverSupport.h"
#include "drivers/scales/PolledScaleFrame.h"

namespace quorvex {

namespace {

QCoro::Task<QVariant> readPolledScale(PortRef ref, const PolledScale &scale)
{
    PortControl &port = requirePort(ref);
    port.setInputMode(PortControl::Text);
    // A late answer to an earlier request must not be taken for this one.
    port.setInBufferCount(0);
    port.Output(QByteArray(scale.request));
    co_await letEventsRun();
    const bool arrived = co_await waitForBytes(port, scale.replyLength, scale.timeout);
    if (!arrived)
        co_return QVariant(0.0);
    const QString reply = port.Input().toString();
    co_return QVariant(parsePolledScaleReply(reply, scale));
}

} // namespace

QCoro::Task<QVariant> LeggiPeso_BILANCIAI_D400(PortRef port)
{
    return readPolledScale(std::move(port), kD400Weight);
}

QCoro::Task<QVariant> LeggiTara_BILANCIAI_D400(PortRef port)
{
    return readPolledScale(std::move(port), kD400Tare);
}

QCoro::Task<QVariant> LeggiPeso_EUROBIL_BC100M(PortRef port)
{
    return readPolledScale(std::move(port), kBC100MWeight);
}

} // namespace quorvex
