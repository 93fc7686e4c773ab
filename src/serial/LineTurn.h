#pragma once
// One exchange at a time on a serial line. Whoever talks to an instrument
// takes the line's turn first and keeps it until its exchange has ended
// (discard, request, waits, reads and retries); others wait their turn in
// the order they asked, suspended, and each gets the line after the one
// before it has let go. A port that closes keeps handing the turn on, so
// waiters go on to fail as a closed port fails instead of hanging.
#include <QCoro/QCoroTask>
#include <QObject>

#include <coroutine>
#include <list>

namespace quorvex {

class LineTurn {
public:
    // Gives the line back when it goes.
    class Holder {
    public:
        Holder() = default;
        explicit Holder(LineTurn *turn) : m_turn(turn) {}
        Holder(Holder &&other) noexcept : m_turn(std::exchange(other.m_turn, nullptr)) {}
        Holder &operator=(Holder &&other) noexcept;
        ~Holder() { release(); }
        void release();

    private:
        LineTurn *m_turn = nullptr;
    };

    LineTurn() = default;
    LineTurn(const LineTurn &) = delete;
    LineTurn &operator=(const LineTurn &) = delete;

    // Suspends until the line is the caller's.
    QCoro::Task<Holder> take();

    bool busy() const { return m_busy; }

private:
    struct Waiter;
    class Awaiter;
    void release();

    bool m_busy = false;
    std::list<Waiter *> m_queue; // in the order they asked
    Waiter *m_granted = nullptr; // handed the line, not yet resumed
    QObject m_context;           // resumptions are posted to it, and go with it
};

} // namespace quorvex
