#include "serial/LineTurn.h"

#include <QMetaObject>

namespace quorvex {

// A caller waiting for the line. It lives in the caller's coroutine frame;
// if that frame goes before the caller got the line, it leaves the queue,
// and if it goes after the line was handed to it but before it resumed, it
// hands the line on.
struct LineTurn::Waiter {
    std::coroutine_handle<> handle;
    bool granted = false;
    bool resumed = false;
};

class LineTurn::Awaiter {
public:
    explicit Awaiter(LineTurn &turn) : m_turn(turn) {}
    // Moved only before it waits (the coroutine machinery may move it into
    // place); once queued it stays where it is.
    Awaiter(Awaiter &&other) noexcept : m_turn(other.m_turn) {}
    ~Awaiter()
    {
        if (!m_waiter.handle || m_waiter.resumed)
            return;
        if (m_waiter.granted) {
            m_turn.m_granted = nullptr;
            m_turn.release();
        }
        else
            m_turn.m_queue.remove(&m_waiter);
    }

    bool await_ready()
    {
        if (m_turn.m_busy)
            return false;
        m_turn.m_busy = true;
        return true;
    }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_waiter.handle = handle;
        m_turn.m_queue.push_back(&m_waiter);
    }
    void await_resume() { m_waiter.resumed = true; }

private:
    LineTurn &m_turn;
    Waiter m_waiter;
};

LineTurn::Holder &LineTurn::Holder::operator=(Holder &&other) noexcept
{
    if (this != &other) {
        release();
        m_turn = std::exchange(other.m_turn, nullptr);
    }
    return *this;
}

void LineTurn::Holder::release()
{
    if (LineTurn *turn = std::exchange(m_turn, nullptr))
        turn->release();
}

QCoro::Task<LineTurn::Holder> LineTurn::take()
{
    co_await Awaiter(*this);
    co_return Holder(this);
}

void LineTurn::release()
{
    if (m_queue.empty()) {
        m_busy = false;
        return;
    }
    // The line goes straight to the next in order (it stays busy, so nobody
    // can overtake); the next resumes from the event loop, not from inside
    // the exchange that has just ended.
    Waiter *next = m_queue.front();
    m_queue.pop_front();
    next->granted = true;
    m_granted = next;
    QMetaObject::invokeMethod(
        &m_context,
        [this, next] {
            // A waiter whose frame went before this ran has handed the line
            // on already and is no longer the one granted.
            if (m_granted != next)
                return;
            m_granted = nullptr;
            next->handle.resume();
        },
        Qt::QueuedConnection);
}

} // namespace quorvex
