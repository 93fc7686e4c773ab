// ELAP counters: one request, one wait, the value cut out of the reply.
// The zero command is written and not waited for.
#include "drivers/line/ElapCounters.h"

#include "drivers/DriverSupport.h"
#include "drivers/line/ElapCounterFrame.h"

namespace quorvex {

using namespace std::chrono_literals;

namespace {

QCoro::Task<QVariant> readElap(PortRef ref, const ElapModel &model)
{
    PortControl &port = requirePort(ref);
    // An answer to an earlier request (or to a zero command) is discarded.
    const std::optional<QVariant> reply =
        co_await requestReply(port, PortControl::Text, QByteArray(kElapReadRequest), model.replyLength, 2s);
    if (!reply)
        co_return QVariant(0.0);
    co_return QVariant(parseElapReply(reply->toString(), model));
}

QCoro::Task<QVariant> zeroElap(PortRef ref)
{
    sendWithoutWaiting(requirePort(ref), kElapZeroCommand);
    co_return QVariant(0.0);
}

} // namespace

QCoro::Task<QVariant> LeggiLunghezza_ELAP_CM78(PortRef port)
{
    return readElap(std::move(port), kElapCm78);
}

QCoro::Task<QVariant> LeggiLunghezza_ELAP_CM78A(PortRef port)
{
    return readElap(std::move(port), kElapCm78A);
}

QCoro::Task<QVariant> LeggiPeso_ELAP_CM78(PortRef port)
{
    return LeggiLunghezza_ELAP_CM78(std::move(port));
}

QCoro::Task<QVariant> LeggiPeso_ELAP_CM78A(PortRef port)
{
    return LeggiLunghezza_ELAP_CM78A(std::move(port));
}

QCoro::Task<QVariant> AzzeraLunghezza_ELAP_CM78(PortRef port)
{
    return zeroElap(std::move(port));
}

QCoro::Task<QVariant> AzzeraLunghezza_ELAP_CM78A(PortRef port)
{
    return zeroElap(std::move(port));
}

} // namespace quorvex
