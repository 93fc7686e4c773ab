// RLC controller: the status request is repeated while replies fail their
// checksum, ten times at most (then 0). The instrument is given 20 s to
// answer; a missing answer ends the call with the type-mismatch error, so a
// client calling the driver directly can tell silence from a reading.
#include "drivers/line/RlcController.h"

#include "common/AutomationError.h"
#include "drivers/DriverSupport.h"
#include "drivers/line/RlcControllerFrame.h"

namespace quorvex {

namespace {

QCoro::Task<QVariant> readRlcField(PortRef ref, RlcField field)
{
    PortControl &port = requirePort(ref);
    port.setInputMode(PortControl::Text);
    for (int attempt = 0; attempt < kRlcAttempts; ++attempt) {
        port.setInBufferCount(0);
        port.Output(QByteArray(kRlcStatusRequest));
        const bool arrived = co_await waitForBytes(port, kRlcStatusReplyLength, kRlcTimeout);
        if (!arrived)
            throw AutomationError::typeMismatch();
        const QString reply = port.Input().toString();
        const bool valid = rlcChecksumMatches(reply);
        // Whatever followed the reply belongs to no request of ours.
        port.setInBufferCount(0);
        if (valid)
            co_return QVariant(rlcFieldValue(reply, field));
    }
    co_return QVariant(0.0);
}

} // namespace

QCoro::Task<QVariant> LeggiLunghezza_RLC_1(PortRef port)
{
    return readRlcField(std::move(port), RlcField::Length);
}

QCoro::Task<QVariant> LeggiPeso_RLC_1(PortRef port)
{
    return readRlcField(std::move(port), RlcField::Weight);
}

QCoro::Task<QVariant> AzzeraLunghezza_RLC_1(PortRef ref)
{
    PortControl &port = requirePort(ref);
    port.setInputMode(PortControl::Text);
    port.setInBufferCount(0);
    // Written once: a repeated zero could land after the line moved on.
    port.Output(QByteArray(kRlcZeroCommand));
    const bool answered = co_await waitForBytes(port, kRlcZeroAnswerLength, kRlcTimeout);
    if (!answered)
        throw AutomationError::typeMismatch();
    port.Input(); // the answer carries nothing we use
    co_return QVariant(0.0);
}

} // namespace quorvex
