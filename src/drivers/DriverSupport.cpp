#include "drivers/DriverSupport.h"

#include "common/AutomationError.h"

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <coroutine>

namespace quorvex {

namespace {

// Suspends until the port reports new input or the time-out passes,
// whichever comes first, and resumes the waiter exactly once.
//
// Both wake-ups are connected to a context object that lives in the
// awaiter, so when the waiter resumes and the awaiter goes, every
// connection and every queued input notification goes with it: nothing can
// reach a timer or an awaiter that no longer exists, and a late notification
// can never resume a coroutine that has moved on. (QCoro's signal wait with a
// time-out lets a queued notification outlive its timer.) Input is taken
// through a queued connection so the waiter never runs inside the port's
// own read handler.
class InputOrTimeout {
public:
    InputOrTimeout(PortControl &port, std::chrono::milliseconds timeout)
        : m_state(std::make_unique<State>(port, timeout)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) { m_state->suspend(waiter); }
    void await_resume() const noexcept {}

private:
    // Kept on the heap so the awaiter can be moved while the connections
    // point at one fixed place.
    struct State {
        State(PortControl &port, std::chrono::milliseconds timeout) : port(port), timeout(timeout) {}

        void suspend(std::coroutine_handle<> handle)
        {
            waiter = handle;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &context, [this] { wake(); });
            QObject::connect(&port, &PortControl::inputChanged, &context, [this] { wake(); },
                             Qt::QueuedConnection);
            timer.start(timeout);
        }
        void wake()
        {
            if (!waiter)
                return;
            const std::coroutine_handle<> handle = std::exchange(waiter, {});
            timer.stop();
            QObject::disconnect(&port, nullptr, &context, nullptr);
            handle.resume(); // may destroy this state: touch nothing after it
        }

        PortControl &port;
        std::chrono::milliseconds timeout;
        QObject context;
        QTimer timer;
        std::coroutine_handle<> waiter;
    };
    std::unique_ptr<State> m_state;
};

} // namespace

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
        co_await InputOrTimeout(port, remaining);
    }
}

} // namespace quorvex
