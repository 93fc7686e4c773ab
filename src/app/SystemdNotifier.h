#pragma once
// Tells the service manager that started the server (systemd, which passes
// NOTIFY_SOCKET) how the server is: ready once the bus name is held and the
// configuration loaded, reloading around each configuration reload, stopping
// at an orderly end, a one-line status whenever it changes, and the
// watchdog's keep-alive from the event loop, so a server whose loop is stuck
// is restarted. Without NOTIFY_SOCKET it does nothing at all.
#include <QObject>
#include <QTimer>

namespace quorvex {

class FeedLink;
class Line;

class SystemdNotifier : public QObject {
    Q_OBJECT
public:
    // feed may be none: the status then leaves the plant feed out.
    SystemdNotifier(Line &line, FeedLink *feed, QObject *parent = nullptr);

    // Whether a service manager listens.
    bool active() const { return m_active; }

    // The bus name is held and the configuration loaded.
    void ready();
    // The process is on its way out.
    void stopping();

private:
    void send(const QByteArray &state);
    // Sends the status line when it differs from the last one sent.
    void updateStatus();

    Line &m_line;
    FeedLink *m_feed;
    bool m_active = false;
    bool m_ready = false;
    bool m_reloading = false;
    bool m_stopping = false;
    bool m_sendFailed = false;
    QString m_status; // the status line last sent
    QTimer m_watchdog;
    // The ports' health and the feed's link change without telling: the
    // status is looked at now and then.
    QTimer m_statusCheck;
};

// The server's state in one line: the roles configured, those failing, and
// the plant feed's link.
QString serverStatusLine(const Line &line, FeedLink *feed);

} // namespace quorvex
