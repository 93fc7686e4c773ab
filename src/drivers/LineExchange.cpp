#include "drivers/LineExchange.h"

#include "common/AutomationError.h"
#include "common/Logging.h"

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <coroutine>

namespace quorvex {

using namespace std::chrono_literals;

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
            : m_state(std::make_unique<State>(port, timeout))
    {}

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
            QObject::connect(
                &port, &PortControl::inputChanged, &context, [this] { wake(); }, Qt::QueuedConnection);
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

LineExchange::LineExchange(PortControl &port, const Recipe &recipe, QString role)
        : m_port(port), m_recipe(&recipe), m_turnWait(recipe.timeout), m_replyWait(recipe.timeout),
          m_role(std::move(role)), m_deadline(recipe.timeout)
{}

LineExchange::LineExchange(PortControl &port, std::chrono::milliseconds turnWait, std::chrono::milliseconds replyWait)
        : m_port(port), m_turnWait(turnWait), m_replyWait(replyWait), m_deadline(replyWait)
{}

LineExchange::~LineExchange()
{
    if (m_ownSettings) {
        try {
            m_port.setSettings(*m_ownSettings);
            m_port.setInBufferCount(0); // nothing of the probe's is left for the next exchange
        } catch (const AutomationError &) {}
    }
    if (m_recipe)
        tellHealth();
}

void LineExchange::tellHealth()
{
    PortControl::Health &health = m_port.health();
    if (m_heard) {
        if (health.silentExchanges > 0)
            qCInfo(lcHealth).noquote()
                << QStringLiteral("%1 answers again after %2 silent exchanges").arg(who()).arg(health.silentExchanges);
        health.silentExchanges = 0;
        health.lastReply = QDateTime::currentDateTimeUtc();
        // It answers: an error of an earlier exchange is history now, unless
        // this answer was itself not a reading.
        health.lastError = m_badAnswer;
        if (m_requestClock.isValid() && m_replyCompleteNs >= 0 && m_replyBytes > 0) {
            QList<PortControl::ExchangeTime> &times = health.times[m_role];
            times.append({m_replyCompleteNs / 1000, m_port.wireMicroseconds(m_requestBytes + m_replyBytes)});
            if (times.size() > PortControl::kTimedExchanges)
                times.removeFirst();
        }
    } else if (m_silent) {
        const QString silence = QStringLiteral("no answer within %1 ms").arg(m_replyWait.count());
        // Once when it stops answering; nothing per call after that.
        if (++health.silentExchanges == 1)
            qCWarning(lcHealth).noquote() << QStringLiteral("%1 stopped answering: %2").arg(who(), silence);
        health.lastError = silence;
    }
}

QString LineExchange::who() const
{
    const QString path = m_port.devicePath();
    const QString where = QStringLiteral("on port %1%2")
                              .arg(m_port.CommPort())
                              .arg(path.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(path));
    if (!m_recipe)
        return QStringLiteral("a probe ") + where;
    return QStringLiteral("%1 %2, %3 %4")
        .arg(m_role.isEmpty() ? QStringLiteral("a direct call") : m_role, where, QLatin1String(m_recipe->brand),
             QLatin1String(m_recipe->model));
}

QCoro::Task<bool> LineExchange::begin()
{
    m_line = co_await m_port.turn().take(m_turnWait);
    if (!m_line)
        co_return false;
    // A device another process still holds (a server that is ending hands
    // it over within moments) is waited for briefly, with the line held,
    // instead of failing; the reply clock has not started yet.
    constexpr int kTries = 20;
    for (int attempt = 1;; ++attempt) {
        try {
            m_port.ensureOpen();
            co_return true;
        } catch (const AutomationError &) {
            if (!m_port.deviceHeldElsewhere() || attempt == kTries)
                throw;
        }
        co_await QCoro::sleepFor(50ms);
    }
}

bool LineExchange::useSettings(const QString &settings)
{
    if (!m_ownSettings)
        m_ownSettings = m_port.Settings();
    try {
        m_port.setSettings(settings);
    } catch (const AutomationError &) {
        return false;
    }
    return true;
}

void LineExchange::discard()
{
    m_port.setInBufferCount(0);
}

void LineExchange::send(QByteArrayView bytes)
{
    m_port.Output(bytes.toByteArray());
    restartClock();
    m_requestClock.start();
    m_requestBytes = bytes.size();
    m_replyBytes = 0;
    m_replyCompleteNs = -1;
}

void LineExchange::restartClock()
{
    m_deadline.setRemainingTime(m_replyWait);
}

QCoro::Task<bool> LineExchange::waitFor(int n)
{
    const auto left = std::chrono::milliseconds(std::max<qint64>(0, m_deadline.remainingTime()));
    const bool arrived = co_await waitForBytes(m_port, n, left);
    (arrived ? m_heard : m_silent) = true;
    if (arrived && m_requestClock.isValid())
        m_replyCompleteNs = m_requestClock.nsecsElapsed();
    if (!arrived)
        fail(QStringLiteral("no answer within %1 ms").arg(m_replyWait.count()));
    co_return arrived;
}

void LineExchange::fail(const QString &why)
{
    if (m_problem.isEmpty())
        m_problem = why;
}

QByteArray LineExchange::take()
{
    QByteArray bytes = m_port.takeInput();
    if (m_requestClock.isValid())
        m_replyBytes += bytes.size();
    return bytes;
}

QCoro::Task<> LineExchange::quietFor(std::chrono::microseconds silence)
{
    const qint64 left = silence.count() * 1000 - m_port.nsecsSinceTraffic();
    if (left > 0)
        co_await QCoro::sleepFor(std::chrono::microseconds(left / 1000 + 1));
}

QCoro::Task<> LineExchange::waitForQuietLine(std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = std::chrono::nanoseconds(quiet).count() - m_port.nsecsSinceTraffic();
        if (left <= 0 || waited.elapsed() >= limit.count())
            break;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::chrono::nanoseconds(left));
        co_await waitForBytes(m_port, m_port.InBufferCount() + 1, wait);
    }
    discard();
}

void LineExchange::problem(const QString &why)
{
    m_badAnswer = why;
    m_port.health().lastError = why;
    fail(why);
    qCDebug(lcDriver).noquote() << QStringLiteral("%1: %2").arg(who(), why);
}

QVariant fallbackValue(Fallback kind)
{
    switch (kind) {
    case Fallback::Zero: return QVariant(0.0);
    case Fallback::WholeZero: return QVariant::fromValue(qint16(0));
    case Fallback::Empty: return QVariant();
    case Fallback::TypeMismatch: throw AutomationError::typeMismatch();
    }
    return QVariant(0.0);
}

QVariant parsedValue(const Recipe &recipe, QByteArrayView reply)
{
    return QVariant(recipe.parse ? recipe.parse(reply, recipe) : 0.0);
}

} // namespace quorvex
