#pragma once
// At most two readings a second per published value: a reading within
// 500 ms of the last one of the same value sent waits, and a newer one of
// that value replaces it; the newest goes out when the interval is over. A
// weight never replaces a tare, nor the reverse.
#include "line/Device.h"
#include "line/PublishedValues.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

namespace quorvex {

struct FeedReading {
    double value = 0;
    RoleOperation op = RoleOperation::LeggiPeso;
    qint64 msecsSinceEpoch = 0; // when it was taken
};

class ReadingThrottle : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 500;
    using Send = std::function<void(Value value, const FeedReading &reading)>;

    explicit ReadingThrottle(Send send, QObject *parent = nullptr);

    // Sends now, or keeps it as the value's newest until its interval is over.
    void take(Value value, const FeedReading &reading);
    // Forgets every reading waiting.
    void clear();

private:
    struct Channel {
        QElapsedTimer lastSent;
        std::optional<FeedReading> pending;
        QTimer *timer = nullptr;
    };
    void sendPending(int value);

    Send m_send;
    std::array<Channel, kValueCount> m_channels;
};

} // namespace quorvex
