#pragma once
// How the face's connections come and go, told without flooding the log: a
// plant network may open a connection for every poll, or scan the port.
// Each connect, disconnect and close is a debug line; a connection refused
// over MaxClient is one warning a minute at most, one refused for its
// address one info line a minute at most; and at most one info line a
// minute sums up a minute with many connections or any the face closed.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>

namespace quorvex::modbus {

class ConnectionTally : public QObject {
    Q_OBJECT
public:
    // Why the face ended a connection, or did not take it.
    enum class Closed { NotModbus, Idle, Overflow, NotAllowed, OverLimit };

    explicit ConnectionTally(QObject *parent = nullptr);

    void connected(const QString &peer);
    void disconnected(const QString &peer);
    // detail: the value of the setting that decided it (MaxClient, Inattivo).
    void closed(Closed why, const QString &peer, const QString &detail = {});
    // The face stops: what is counted is told now.
    void flush();

private:
    void count();
    void summarize();

    QTimer m_minute; // from the first event of a minute to its summary
    int m_connections = 0;
    std::array<int, 5> m_closed{};
    std::array<QElapsedTimer, 5> m_lastTold; // refusals told one at a time
};

} // namespace quorvex::modbus
