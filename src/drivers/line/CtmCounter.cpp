// CTM counter: a read request answered with the count and a check
// character. A reply with a wrong check character is asked for again, up to
// ten requests; a counter that does not answer ends the read at once.
#include "drivers/line/CtmCounter.h"

#include "drivers/DriverSupport.h"
#include "drivers/line/CtmCounterFrame.h"

namespace quorvex {

using namespace std::chrono_literals;

namespace {
constexpr int kMaxRequests = 10;
}

QCoro::Task<QVariant> LeggiLunghezza_CTM_1(PortRef ref)
{
    PortControl &port = requirePort(ref);
    port.setInputMode(PortControl::Text);
    for (int attempt = 0; attempt < kMaxRequests; ++attempt) {
        port.setInBufferCount(0);
        port.Output(kCtmReadRequest);
        const bool arrived = co_await waitForBytes(port, kCtmReplyLength, 2s);
        if (!arrived)
            co_return QVariant(0.0);
        const QString reply = port.Input().toString();
        port.setInBufferCount(0);
        if (ctmReplyChecks(reply))
            co_return QVariant(parseCtmCount(reply));
    }
    co_return QVariant(0.0);
}

QCoro::Task<QVariant> LeggiAltezza_CTM_1(PortRef port)
{
    return LeggiLunghezza_CTM_1(std::move(port));
}

QCoro::Task<QVariant> AzzeraLunghezza_CTM_1(PortRef ref)
{
    // The counter's answer is not awaited; whatever has come in is dropped.
    sendWithoutWaiting(requirePort(ref), kCtmZeroCommand);
    co_return QVariant(0.0);
}

} // namespace quorvex
