#pragma once
// Polls a condition while running this thread's event loop, so that timers,
// sockets and D-Bus replies of the code under test go on meanwhile.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace support {

// Waits until pred() holds or timeoutMs passes; whether it held.
inline bool waitUntil(const std::function<bool()> &pred, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

} // namespace support
