#pragma once
// The server as tests and benchmarks run it: a settings store in a temporary
// XDG_CONFIG_HOME, quorvexd started on the current (private) session bus,
// and calls to its object as a client makes them. The server's bus names
// are the server's own (api/BusNames.h).
#include "api/BusNames.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

#include <functional>
#include <string>

namespace support {

// A call of method on one interface of the server's object, to send as it is.
QDBusMessage methodCall(const char *interface, const QString &method, const QVariantList &args = {});
// The same sent on connection, waiting for the reply.
QDBusMessage callInterface(QDBusConnection &connection, const char *interface, const QString &method,
                           const QVariantList &args = {}, int timeoutMs = 60000);
// An operation (interface Global) sent on connection without waiting.
QDBusPendingCall asyncCall(QDBusConnection &connection, const QString &method, const QVariantList &args = {},
                           int timeoutMs = 60000);
// Calls on this process's session bus connection.
QDBusMessage diagnostics(const QString &method, const QVariantList &args = {});
QDBusMessage history(const QString &method, const QVariantList &args = {});
// What Diagnostics.Ports() says about port number n; empty when it lists none.
QVariantMap portInfo(int n);
// What Diagnostics.Ports() says about the health of role ("Bilancia", ...);
// empty when it lists none.
QVariantMap instrumentHealth(const QString &role);
// Diagnostics.Feed(): the plant feed's state.
QVariantMap feedStatus();
// Connects slot of receiver to signal name of interface, sent by the server.
bool connectSignal(const char *interface, const QString &name, QObject *receiver, const char *slot);

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();

    // Settings store, as the settings dialog writes it.
    void setSetting(const QString &group, const QString &key, const QString &value);
    // Port number n is the device at path (a simulator's pty).
    void mapPort(int n, const std::string &path);
    // Configures a role: group "Bilancia", "Contametri", "Altezza" or "Servizio".
    void configureRole(const QString &group, const QString &brand, const QString &model, int port,
                       const QString &divisore = QString(), const QString &settings = QStringLiteral("9600,N,8,1"));

    // Starts quorvexd directly with a non-empty command line and waits until
    // it owns its bus name: empty, or why it did not start. With a locale
    // (e.g. "it_IT.UTF-8") the server runs under it, else under this
    // process's own.
    QString start(const QString &locale = QString());
    // Set before start: the server's stderr (its log) is kept for
    // serverLog() instead of being forwarded.
    bool captureLog = false;
    // Set before start: runs in the server's process just before it starts
    // the program (e.g. to give up privileges).
    std::function<void()> beforeServerStarts;
    // Everything the server has written to stderr so far (captureLog).
    QString serverLog();
    void stopServer();
    bool serverRunning() const;
    static bool serviceRegistered();
    // The environment the bus starts the server with when a call activates
    // it: this settings store, plus extra; whether the bus took it.
    bool setActivationEnvironment(const QMap<QString, QString> &extra = {}) const;

    // An operation called from this process's own connection.
    QDBusMessage call(const QString &method, const QVariantList &args = {});
    // The same from a separate client connection (another client program).
    static QDBusMessage callOn(QDBusConnection &connection, const QString &method, const QVariantList &args = {});

    QString configHome() const { return m_config.path(); }
    // The server's XDG_DATA_HOME (the coil store lives below it).
    QString dataHome() const { return m_config.path() + QStringLiteral("/data"); }

    QTemporaryDir m_config;
    QProcess m_server;
    QString m_log;
};

} // namespace support
