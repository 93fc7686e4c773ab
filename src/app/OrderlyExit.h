#pragma once
// The one place that ends the process. It ends when the last hold on it is
// gone (KeepAlive: no client instance, no loaded window or port host, no call
// in flight), or when it is told to stop (SIGTERM, SIGINT, the session bus
// gone): the bus name goes first, so new calls start a new server by
// activation; calls the bus had already routed here are still answered (the
// object stays registered); the ports are closed; then the event loop quits
// with status 0.
#include <QDBusConnection>
#include <QObject>
#include <QTimer>

namespace quorvex {

class DbusBinding;
class Line;
class ServerWindows;

class OrderlyExit : public QObject {
    Q_OBJECT
public:
    OrderlyExit(QDBusConnection bus, Line &line, DbusBinding &binding, ServerWindows &windows,
                QObject *parent = nullptr);

    // Watches SIGTERM and SIGINT (stop) and SIGHUP (reload the
    // configuration) from now on.
    void handleStopSignals();

    // The last hold has gone: give up the name and end once the calls that
    // still reach the server are answered.
    void lastOneGone();
    // Told to stop: give up the name, close the ports so every call in
    // flight ends at once, and end. why goes into the last log line.
    void stop(const QString &why);

signals:
    // The process is on its way out: the bus name has gone.
    void ending();

private:
    void releaseName();
    void quitWhenIdle();
    void onSignal();
    void quit();

    QDBusConnection m_bus;
    Line &m_line;
    DbusBinding &m_binding;
    ServerWindows &m_windows;
    bool m_nameReleased = false;
    bool m_stopping = false;
    bool m_quitting = false;
    QString m_why; // why the server ends, for its last log line
    // Calls the bus routed here just before the name went may still be on
    // their way through this process's queue; the server stays this long
    // after the last hold went before it ends.
    QTimer m_grace;
    // A stop does not wait longer than this for calls to end.
    QTimer m_stopBound;
    // A server whose session bus has gone can serve nobody: it stops. QtDBus
    // gives no signal for it, so the connection is looked at now and then.
    QTimer m_busCheck;
};

} // namespace quorvex
