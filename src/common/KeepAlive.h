#pragma once
// What keeps the process alive, counted. Whoever needs the process to go on
// (a client's Global instance, a loaded window, a call in flight, the loaded
// port host) holds a KeepAliveToken; when the last token goes, the process's
// KeepAlive says lastOneGone once, and the ending policy takes over. The
// same idiom as QEventLoopLocker, with the decision left to the process.
#include <QObject>
#include <QPointer>
#include <utility>

namespace quorvex {

class KeepAlive : public QObject {
    Q_OBJECT
public:
    // The process's one counter.
    static KeepAlive &process();

    // Tokens held now.
    int count() const { return m_count; }

signals:
    // The count went down to 0. Tokens may be taken again afterwards (a late
    // client); their going tells this again.
    void lastOneGone();

private:
    friend class KeepAliveToken;
    void take() { ++m_count; }
    void drop();

    int m_count = 0;
};

// One hold on the process, dropped when the token goes or is released. An
// empty token (default-constructed) holds nothing.
class KeepAliveToken {
public:
    KeepAliveToken() = default;
    // Holds the process from now on.
    static KeepAliveToken take();

    KeepAliveToken(KeepAliveToken &&other) noexcept : m_keepAlive(std::exchange(other.m_keepAlive, nullptr)) {}
    KeepAliveToken &operator=(KeepAliveToken &&other) noexcept;
    KeepAliveToken(const KeepAliveToken &) = delete;
    KeepAliveToken &operator=(const KeepAliveToken &) = delete;
    ~KeepAliveToken() { release(); }

    void release();
    bool holds() const { return m_keepAlive; }

private:
    explicit KeepAliveToken(KeepAlive *keepAlive) : m_keepAlive(keepAlive) { keepAlive->take(); }

    QPointer<KeepAlive> m_keepAlive;
};

} // namespace quorvex
