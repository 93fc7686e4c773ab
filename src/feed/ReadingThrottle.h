#pragma once
// At most two readings a second per role: a reading within 500 ms of the
// last one sent waits, and a newer one replaces it; the newest goes out
// when the interval is over.
#include "line/Device.h"

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
    using Send = std::function<void(Role role, const FeedReading &reading)>;

    explicit ReadingThrottle(Send send, QObject *parent = nullptr);

    // Sends now, or keeps it as the role's newest until its interval is over.
    void take(Role role, const FeedReading &reading);
    // Forgets every reading waiting.
    void clear();

private:
    struct Channel {
        QElapsedTimer lastSent;
        std::optional<FeedReading> pending;
        QTimer *timer = nullptr;
    };
    void sendPending(int role);

    Send m_send;
    std::array<Channel, kRoleCount> m_channels;
};

} // namespace quorvex
