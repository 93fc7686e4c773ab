#include "serial/LineTurn.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>

#include <memory>

namespace quorvex {

// A caller waiting for the line. It lives in the caller's coroutine frame;
// if that frame goes before the caller got the line, it leaves the queue,
// and if it goes after the line was handed to it but before it resumed, it
// hands the line on. Its bound, if any, is a timer that takes it out of the
// queue; it resumes from the event loop with no line.
struct LineTurn::Waiter {
    std::coroutine_handle<> handle;
    std::unique_ptr<QTimer> bound;
    bool granted = false;
    bool resumed = false;
};

class LineTurn::Awaiter {
public:
    Awaiter(LineTurn &turn, std::optional<std::chrono::milliseconds> within) : m_turn(turn), m_within(within) {}
    // Moved only before it waits (the coroutine machinery may move it into
    // place); once queued it stays where it is.
    Awaiter(Awaiter &&other) noexcept : m_turn(other.m_turn), m_within(other.m_within) {}
    ~Awaiter()
    {
        if (!m_waiter.handle || m_waiter.resumed)
            return;
        if (m_waiter.granted) {
            m_turn.m_granted = nullptr;
            m_turn.release();
        } else {
            m_turn.m_queue.remove(&m_waiter);
            m_turn.m_expired.remove(&m_waiter);
        }
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
        if (m_within) {
            m_waiter.bound = std::make_unique<QTimer>();
            m_waiter.bound->setSingleShot(true);
            QObject::connect(m_waiter.bound.get(), &QTimer::timeout, [this] { m_turn.expire(&m_waiter); });
            m_waiter.bound->start(*m_within);
        }
    }
    // Whether the line is the caller's.
    bool await_resume()
    {
        m_waiter.resumed = true;
        return m_waiter.granted || !m_waiter.handle;
    }

private:
    LineTurn &m_turn;
    std::optional<std::chrono::milliseconds> m_within;
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

QCoro::Task<LineTurn::Holder> LineTurn::take(std::optional<std::chrono::milliseconds> within)
{
    const bool granted = co_await Awaiter(*this, within);
    if (!granted)
        co_return Holder();
    co_return Holder(this);
}

void LineTurn::expire(Waiter *waiter)
{
    // Not granted yet (granting stops the timer), so it is still queued.
    m_queue.remove(waiter);
    m_expired.push_back(waiter);
    // Resumed from the event loop, after the timer's own handler has ended.
    QMetaObject::invokeMethod(
        &m_context,
        [this, waiter] {
            // A waiter whose frame went meanwhile has left this list.
            const auto it = std::find(m_expired.begin(), m_expired.end(), waiter);
            if (it == m_expired.end())
                return;
            m_expired.erase(it);
            waiter->handle.resume();
        },
        Qt::QueuedConnection);
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
    if (next->bound)
        next->bound->stop();
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
