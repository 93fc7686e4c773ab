#include "feed/ReadingThrottle.h"

namespace quorvex {

ReadingThrottle::ReadingThrottle(Send send, QObject *parent) : QObject(parent), m_send(std::move(send))
{
    for (int role = 0; role < kRoleCount; ++role) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, role] { sendPending(role); });
        m_channels[size_t(role)].timer = timer;
    }
}

void ReadingThrottle::take(Role role, const FeedReading &reading)
{
    const int index = int(role);
    Channel &channel = m_channels[size_t(index)];
    channel.pending = reading;
    if (channel.timer->isActive())
        return; // the newest wins when the interval is over
    const qint64 since = channel.lastSent.isValid() ? channel.lastSent.elapsed() : kIntervalMs;
    if (since >= kIntervalMs)
        sendPending(index);
    else
        channel.timer->start(int(kIntervalMs - since));
}

void ReadingThrottle::clear()
{
    for (Channel &channel : m_channels) {
        channel.timer->stop();
        channel.pending.reset();
    }
}

void ReadingThrottle::sendPending(int role)
{
    Channel &channel = m_channels[size_t(role)];
    if (!channel.pending)
        return;
    const FeedReading reading = *channel.pending;
    channel.pending.reset();
    channel.lastSent.start();
    m_send(Role(role), reading);
}

} // namespace quorvex
