#include "app/OrderlyExit.h"

#include "api/DbusBinding.h"
#include "app/ServerWindows.h"
#include "common/KeepAlive.h"
#include "line/Line.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

OrderlyExit::OrderlyExit(QDBusConnection bus, Line &line, DbusBinding &binding, ServerWindows &windows,
                         QObject *parent)
    : QObject(parent), m_bus(bus), m_line(line), m_binding(binding), m_windows(windows)
{
    m_grace.setSingleShot(true);
    m_grace.setInterval(200ms);
    connect(&m_grace, &QTimer::timeout, this, &OrderlyExit::quitWhenIdle);
    m_stopBound.setSingleShot(true);
    m_stopBound.setInterval(3s);
    connect(&m_stopBound, &QTimer::timeout, qApp, [] { QCoreApplication::exit(0); });
    m_busCheck.setInterval(2s);
    connect(&m_busCheck, &QTimer::timeout, this, [this] {
        if (!m_bus.isConnected())
            stop();
    });
    m_busCheck.start();
    connect(&KeepAlive::process(), &KeepAlive::lastOneGone, this, &OrderlyExit::lastOneGone);
    // A stop waits for the calls in flight, not for the holders it let be.
    connect(&m_binding, &DbusBinding::allCallsAnswered, this, [this] {
        if (m_stopping)
            m_grace.start();
    });
}

void OrderlyExit::handleStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &OrderlyExit::onStopSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void OrderlyExit::onStopSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t read = ::read(g_signalPipe[0], &byte, 1);
    stop();
}

void OrderlyExit::releaseName()
{
    if (m_nameReleased)
        return;
    m_nameReleased = true;
    // Blocking on purpose: once the bus has answered, every call it routed
    // here under the name is already in this process's queue.
    m_bus.unregisterService(QLatin1String(kServiceName));
}

void OrderlyExit::lastOneGone()
{
    releaseName();
    m_grace.start();
}

void OrderlyExit::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    releaseName();
    // Closing the ports wakes every wait with the closed port's error, so
    // each call in flight is answered at once.
    m_windows.unload();
    m_line.close();
    m_stopBound.start();
    m_grace.start();
}

void OrderlyExit::quitWhenIdle()
{
    if (m_stopping ? m_binding.callsInFlight() > 0 : KeepAlive::process().count() > 0)
        return; // a late client, a window or a call came; its end asks again
    m_line.close();
    QCoreApplication::exit(0);
}

} // namespace quorvex
