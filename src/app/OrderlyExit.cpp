#include "app/OrderlyExit.h"

#include "api/DbusBinding.h"
#include "app/ServerWindows.h"
#include "common/KeepAlive.h"
#include "common/Logging.h"
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

void onSignalArrived(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

OrderlyExit::OrderlyExit(QDBusConnection bus, Line &line, DbusBinding &binding, ServerWindows &windows, QObject *parent)
        : QObject(parent), m_bus(bus), m_line(line), m_binding(binding), m_windows(windows)
{
    m_grace.setSingleShot(true);
    m_grace.setInterval(200ms);
    connect(&m_grace, &QTimer::timeout, this, &OrderlyExit::quitWhenIdle);
    m_stopBound.setSingleShot(true);
    m_stopBound.setInterval(3s);
    connect(&m_stopBound, &QTimer::timeout, this, &OrderlyExit::quit);
    m_busCheck.setInterval(2s);
    connect(&m_busCheck, &QTimer::timeout, this, [this] {
        if (!m_bus.isConnected())
            stop(QStringLiteral("the session bus is gone"));
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
    connect(notifier, &QSocketNotifier::activated, this, &OrderlyExit::onSignal);
    struct sigaction action = {};
    action.sa_handler = onSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void OrderlyExit::onSignal()
{
    char byte = 0;
    if (::read(g_signalPipe[0], &byte, 1) != 1)
        return;
    if (byte != SIGHUP) {
        stop(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
        return;
    }
    // A server that is ending has nothing to reload into: its ports go.
    if (m_nameReleased)
        qCInfo(lcServer) << "SIGHUP: not reloaded, the server is ending";
    else
        m_line.reloadConfiguration(QStringLiteral("SIGHUP"));
}

void OrderlyExit::releaseName()
{
    if (m_nameReleased)
        return;
    m_nameReleased = true;
    emit ending();
    // Blocking on purpose: once the bus has answered, every call it routed
    // here under the name is already in this process's queue.
    m_bus.unregisterService(QLatin1String(kServiceName));
}

void OrderlyExit::lastOneGone()
{
    if (m_why.isEmpty())
        m_why = QStringLiteral("no client, window or call is left");
    releaseName();
    m_grace.start();
}

void OrderlyExit::stop(const QString &why)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_why = why;
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
    quit();
}

void OrderlyExit::quit()
{
    if (std::exchange(m_quitting, true))
        return;
    m_line.close();
    qCInfo(lcServer).noquote() << QStringLiteral("ending: %1").arg(m_why);
    QCoreApplication::exit(0);
}

} // namespace quorvex
