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
    const std::optional<QVariant> reply =
        co_await requestReply(port, PortControl::Text, QByteArray(scale.request), scale.replyLength, scale.timeout);
    if (!reply)
        co_return QVariant(0.0);
    co_return QVariant(parsePolledScaleReply(reply->toString(), scale));
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
