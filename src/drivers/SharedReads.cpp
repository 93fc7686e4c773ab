#include "drivers/SharedReads.h"

#include "common/AutomationError.h"
#include "drivers/ExchangeKind.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <coroutine>
#include <list>
#include <vector>

namespace quorvex {

struct SharedRead::State {
    const PortControl *port = nullptr;
    const Recipe *recipe = nullptr;
    QString parametri;
    bool done = false;
    QVariant value;
    QString problem;
    std::exception_ptr error;
    std::list<std::coroutine_handle<>> joiners; // suspended, in the order they came
};

namespace {

// Reads queued for their line that can still be joined. The process runs
// its exchanges on one thread, so a plain list serves.
std::vector<std::shared_ptr<SharedRead::State>> g_queued;

// Waits for a shared read's end. A joiner whose frame goes before that
// leaves the list of joiners.
class Joined {
public:
    explicit Joined(std::shared_ptr<SharedRead::State> state) : m_state(std::move(state)) {}
    // Moved only before it waits.
    Joined(Joined &&other) noexcept : m_state(other.m_state) {}
    ~Joined()
    {
        if (m_handle && !m_resumed)
            m_state->joiners.remove(m_handle);
    }

    bool await_ready() const { return m_state->done; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        m_handle = handle;
        m_state->joiners.push_back(handle);
    }
    QVariant await_resume()
    {
        m_resumed = true;
        if (m_state->error)
            std::rethrow_exception(m_state->error);
        return m_state->value;
    }

private:
    std::shared_ptr<SharedRead::State> m_state;
    std::coroutine_handle<> m_handle;
    bool m_resumed = false;
};

} // namespace

bool sharesIdenticalReads(const Recipe &recipe)
{
    return !recipe.actsOnInstrument && recipe.exchange->sharesIdenticalReads;
}

SharedRead::SharedRead(const PortControl &port, const Recipe &recipe, const QString &parametri)
        : m_state(std::make_shared<State>())
{
    m_state->port = &port;
    m_state->recipe = &recipe;
    m_state->parametri = parametri;
    g_queued.push_back(m_state);
}

SharedRead::~SharedRead()
{
    if (!m_state->done)
        fail(std::make_exception_ptr(
            AutomationError(ErrorKind::NotFound, 91, QStringLiteral("The shared exchange was abandoned"))));
}

void SharedRead::closeToJoiners()
{
    std::erase(g_queued, m_state);
}

void SharedRead::finish(const QVariant &value, const QString &problem)
{
    m_state->value = value;
    m_state->problem = problem;
    end();
}

void SharedRead::fail(std::exception_ptr error)
{
    m_state->error = std::move(error);
    end();
}

void SharedRead::end()
{
    closeToJoiners();
    m_state->done = true;
    if (m_state->joiners.empty())
        return;
    // Joiners resume from the event loop, not inside the exchange that ended.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state = m_state] {
            while (!state->joiners.empty()) {
                const std::coroutine_handle<> next = state->joiners.front();
                state->joiners.pop_front();
                next.resume();
            }
        },
        Qt::QueuedConnection);
}

std::shared_ptr<SharedRead::State> SharedRead::queued(const PortControl &port, const Recipe &recipe,
                                                      const QString &parametri)
{
    const auto it = std::find_if(g_queued.begin(), g_queued.end(), [&](const std::shared_ptr<State> &s) {
        return s->port == &port && s->recipe == &recipe && s->parametri == parametri;
    });
    return it == g_queued.end() ? nullptr : *it;
}

QCoro::Task<QVariant> SharedRead::join(std::shared_ptr<State> state, QString *problem)
{
    const std::shared_ptr<State> kept = state;
    const QVariant value = co_await Joined(std::move(state));
    *problem = kept->problem;
    co_return value;
}

} // namespace quorvex
