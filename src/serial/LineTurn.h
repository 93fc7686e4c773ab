#pragma once
// One exchange at a time on a serial line. Whoever talks to an instrument
// takes the line's turn first and keeps it until its exchange has ended
// (discard, request, waits, reads and retries); others wait their turn in
// the order they asked, suspended, and each gets the line after the one
// before it has let go. A waiter gives up once its own wait bound has
// passed: it leaves the queue with an empty holder and never touches the
// line, so a silent instrument cannot make a queue of callers wait for the
// sum of all their time-outs. A port that closes keeps handing the turn on,
// so waiters go on to fail as a closed port fails instead of hanging.
#include <QCoro/QCoroTask>
#include <QObject>

#include <chrono>
#include <coroutine>
#include <list>
#include <optional>

namespace quorvex {

class LineTurn {
public:
    // Gives the line back when it goes. Empty when the wait bound passed
    // before the line came.
    class Holder {
    public:
        Holder() = default;
        explicit Holder(LineTurn *turn) : m_turn(turn) {}
        Holder(Holder &&other) noexcept : m_turn(std::exchange(other.m_turn, nullptr)) {}
        Holder &operator=(Holder &&other) noexcept;
        ~Holder() { release(); }
        void release();
        explicit operator bool() const { return m_turn != nullptr; }

    private:
        LineTurn *m_turn = nullptr;
    };

    LineTurn() = default;
    LineTurn(const LineTurn &) = delete;
    LineTurn &operator=(const LineTurn &) = delete;

    // Suspends until the line is the caller's, or until `within` has passed
    // (an empty holder); without a bound it waits as long as it takes.
    QCoro::Task<Holder> take(std::optional<std::chrono::milliseconds> within = std::nullopt);

    bool busy() const { return m_busy; }

private:
    struct Waiter;
    class Awaiter;
    void release();
    // A queued waiter's bound has passed: it leaves the queue without the line.
    void expire(Waiter *waiter);

    bool m_busy = false;
    std::list<Waiter *> m_queue; // in the order they asked
    std::list<Waiter *> m_expired; // gave up waiting, not yet resumed
    Waiter *m_granted = nullptr; // handed the line, not yet resumed
    QObject m_context; // resumptions are posted to it, and go with it
};

} // namespace quorvex
