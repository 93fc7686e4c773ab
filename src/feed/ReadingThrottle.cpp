#include "feed/ReadingThrottle.h"

namespace quorvex {

ReadingThrottle::ReadingThrottle(Send send, QObject *parent) : QObject(parent), m_send(std::move(send))
{
    for (int value = 0; value < kValueCount; ++value) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, value] { sendPending(value); });
        m_channels[size_t(value)].timer = timer;
    }
}

void ReadingThrottle::take(Value value, const FeedReading &reading)
{
    const int index = int(value);
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

void ReadingThrottle::sendPending(int value)
{
    Channel &channel = m_channels[size_t(value)];
    if (!channel.pending)
        return;
    const FeedReading reading = *channel.pending;
    channel.pending.reset();
    channel.lastSent.start();
    m_send(Value(value), reading);
}

} // namespace quorvex
