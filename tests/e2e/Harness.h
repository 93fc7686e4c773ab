#pragma once
// What every end-to-end test needs: a settings store in a temporary
// XDG_CONFIG_HOME, the server process started on the private session bus,
// and calls to it over D-Bus as a client makes them.
#include "sim/Instrument.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace e2e {

class ServerTest : public ::testing::Test {
protected:
    ServerTest();
    ~ServerTest() override;

    // Settings store, as the settings dialog writes it.
    void setSetting(const QString &group, const QString &key, const QString &value);
    // Port number n is the device at path (a simulator's pty).
    void mapPort(int n, const std::string &path);
    // Configures a role: group "Bilancia", "Contametri", "Altezza" or "Servizio".
    void configureRole(const QString &group, const QString &brand, const QString &model, int port,
                       const QString &divisore = QString(), const QString &settings = QStringLiteral("9600,N,8,1"));

    // Starts quorvexd directly with a non-empty command line, under the given
    // locale (e.g. "it_IT.UTF-8"), and waits until it owns its bus name.
    void startServer(const QString &locale = QStringLiteral("en_US.UTF-8"));
    // Set before startServer: the server's stderr (its log) is kept for
    // serverLog() instead of being forwarded.
    bool captureLog = false;
    // Set before startServer: runs in the server's process just before it
    // starts the program (e.g. to give up privileges).
    std::function<void()> beforeServerStarts;
    // Everything the server has written to stderr so far (captureLog).
    QString serverLog();
    void stopServer();
    bool serverRunning() const;
    bool serviceRegistered() const;

    // A synchronous call from this test's own connection.
    QDBusMessage call(const QString &method, const QVariantList &args = {});
    // The same from a separate client connection (another client program).
    static QDBusMessage callOn(QDBusConnection &connection, const QString &method, const QVariantList &args = {});
    double callDouble(const QString &method, const QVariantList &args = {});
    // Error name and message of a call that must fail.
    std::pair<QString, QString> callError(const QString &method, const QVariantList &args = {});

    // A driver called directly with a port reference ends with the
    // type-mismatch error, number 13.
    void expectTypeMismatch(const QString &driver, const QString &port);

    QString configHome() const { return m_config.path(); }
    // The server's XDG_DATA_HOME (the coil store lives below it).
    QString dataHome() const { return m_config.path() + QStringLiteral("/data"); }

    QTemporaryDir m_config;
    QProcess m_server;
    QString m_log;
};

// The client program quorvex of the same build tree.
QString clientPath();

// Waits, running the event loop, until pred() holds or timeoutMs passes.
bool waitUntil(const std::function<bool()> &pred, int timeoutMs = 10000);

} // namespace e2e
