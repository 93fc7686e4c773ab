// MELSEC service command: ENQ, wait 2 s for the controller; on ACK send the
// frame parametri selects; then wait 2 s more for the controller's answer
// and throw it away. Never retried; the result is always the empty text.
#include "drivers/line/Melsec.h"

#include "drivers/DriverSupport.h"
#include "drivers/line/MelsecFrame.h"

namespace quorvex {

QCoro::Task<QString> ScriviServizio_CTM_MELSEC(PortRef ref, QString parametri)
{
    const QString result;
    PortControl &port = requirePort(ref);
    port.setInputMode(PortControl::Text);
    port.setInBufferCount(0);
    port.Output(QByteArray(1, kMelsecEnq));
    const bool answered = co_await waitForBytes(port, 1, kMelsecTimeout);
    if (!answered)
        co_return result;
    const QString answer = port.Input().toString();
    const QByteArray frame = melsecCommandFrame(parametri);
    if (melsecAcknowledged(answer) && !frame.isEmpty())
        port.Output(frame);
    // The controller's answer to the frame (or a late byte) is not examined.
    const bool more = co_await waitForBytes(port, 1, kMelsecTimeout);
    if (more)
        port.Input();
    co_return result;
}

} // namespace quorvex
