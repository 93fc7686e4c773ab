// COMAR PROFACE: one request and one wait of 2 s per call. A reply that is
// missing or too short gives 0; the zero command gives 0 whether or not the
// instrument answered.
#include "drivers/line/ComarProface.h"

#include "drivers/DriverSupport.h"
#include "drivers/line/ComarProfaceFrame.h"

namespace quorvex {

namespace {

// The reply to the command, or nothing when it did not arrive in time.
QCoro::Task<std::optional<QVariant>> exchange(PortControl &port, const ProfaceCommand &command)
{
    return requestReply(port, command.inputMode, QByteArray(command.request), command.replyLength, kProfaceTimeout);
}

QCoro::Task<QVariant> readProface(PortRef ref, const ProfaceCommand &command)
{
    PortControl &port = requirePort(ref);
    const std::optional<QVariant> reply = co_await exchange(port, command);
    if (!reply)
        co_return QVariant(0.0);
    co_return QVariant(parseProfaceReading(reply->toByteArray()));
}

} // namespace

QCoro::Task<QVariant> LeggiPeso_COMAR_PROFACE(PortRef port)
{
    return readProface(std::move(port), kProfaceWeight);
}

QCoro::Task<QVariant> LeggiLunghezza_COMAR_PROFACE(PortRef port)
{
    return readProface(std::move(port), kProfaceLength);
}

QCoro::Task<QVariant> AzzeraLunghezza_COMAR_PROFACE(PortRef ref)
{
    PortControl &port = requirePort(ref);
    // The answer, if any, is consumed and not looked at.
    co_await exchange(port, kProfaceZero);
    co_return QVariant(0.0);
}

} // namespace quorvex
