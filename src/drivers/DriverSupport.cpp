#include "drivers/DriverSupport.h"

#include "common/AutomationError.h"

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QTimer>

namespace quorvex {

PortControl &requirePort(const PortRef &port)
{
    if (!port)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("No port object"));
    return *port;
}

QCoro::Task<> letEventsRun()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(0);
    co_await timer;
}

QCoro::Task<bool> waitForBytes(PortControl &port, int n, std::chrono::milliseconds timeout)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 limitNs = std::chrono::nanoseconds(timeout).count();
    for (;;) {
        if (port.InBufferCount() >= n)
            co_return true;
        const qint64 elapsedNs = clock.nsecsElapsed();
        if (elapsedNs > limitNs)
            co_return false;
        // Sleep until something arrives, or until just past the deadline.
        const auto remaining = std::chrono::milliseconds((limitNs - elapsedNs) / 1000000 + 1);
        co_await qCoro(&port, &PortControl::inputChanged, remaining);
    }
}

void sendWithoutWaiting(PortControl &port, const QByteArray &command)
{
    port.setInputMode(PortControl::Text);
    port.setInBufferCount(0);
    port.Output(command);
    port.setInBufferCount(0);
}

QCoro::Task<std::optional<QVariant>> requestReply(PortControl &port, int inputMode, QByteArray request, int n,
                                                  std::chrono::milliseconds timeout)
{
    port.setInputMode(inputMode);
    port.setInBufferCount(0);
    port.Output(request);
    co_await letEventsRun();
    const bool arrived = co_await waitForBytes(port, n, timeout);
    if (!arrived)
        co_return std::nullopt;
    co_return port.Input();
}

} // namespace quorvex
