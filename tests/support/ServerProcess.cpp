#include "tests/support/ServerProcess.h"

#include "tests/support/Wait.h"

#include "line/SettingsStore.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QSettings>

namespace support {

QDBusMessage methodCall(const char *interface, const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(quorvex::kServiceName), QLatin1String(quorvex::kObjectPath), QLatin1String(interface), method);
    message.setArguments(args);
    return message;
}

QDBusMessage callInterface(QDBusConnection &connection, const char *interface, const QString &method,
                           const QVariantList &args, int timeoutMs)
{
    return connection.call(methodCall(interface, method, args), QDBus::Block, timeoutMs);
}

QDBusPendingCall asyncCall(QDBusConnection &connection, const QString &method, const QVariantList &args, int timeoutMs)
{
    return connection.asyncCall(methodCall(quorvex::kInterfaceName, method, args), timeoutMs);
}

QDBusMessage diagnostics(const QString &method, const QVariantList &args)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return callInterface(bus, quorvex::kDiagnosticsInterface, method, args);
}

QDBusMessage history(const QString &method, const QVariantList &args)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return callInterface(bus, quorvex::kHistoryInterface, method, args);
}

QVariantMap portInfo(int n)
{
    const QDBusMessage reply = diagnostics(QStringLiteral("Ports"));
    for (const QVariantMap &port : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
        if (port.value(QStringLiteral("number")).toInt() == n)
            return port;
    return {};
}

QVariantMap instrumentHealth(const QString &role)
{
    const QDBusMessage reply = diagnostics(QStringLiteral("Ports"));
    for (const QVariantMap &entry : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(1)))
        if (entry.value(QStringLiteral("role")).toString() == role)
            return entry;
    return {};
}

QVariantMap feedStatus()
{
    qDBusRegisterMetaType<QVariantMap>();
    return qdbus_cast<QVariantMap>(diagnostics(QStringLiteral("Feed")).arguments().value(0));
}

bool connectSignal(const char *interface, const QString &name, QObject *receiver, const char *slot)
{
    return QDBusConnection::sessionBus().connect(QLatin1String(quorvex::kServiceName),
                                                 QLatin1String(quorvex::kObjectPath), QLatin1String(interface), name,
                                                 receiver, slot);
}

ServerProcess::~ServerProcess()
{
    stopServer();
}

void ServerProcess::setSetting(const QString &group, const QString &key, const QString &value)
{
    QSettings settings(m_config.path() + QStringLiteral("/Velkaro s.r.l./Quorvex.ini"), quorvex::settingsFormat());
    settings.setValue(group + QLatin1Char('/') + key, value);
}

void ServerProcess::mapPort(int n, const std::string &path)
{
    setSetting(QStringLiteral("Porte"), QString::number(n), QString::fromStdString(path));
}

void ServerProcess::configureRole(const QString &group, const QString &brand, const QString &model, int port,
                                  const QString &divisore, const QString &settings)
{
    setSetting(group, QStringLiteral("Marca"), brand);
    setSetting(group, QStringLiteral("Modello"), model);
    setSetting(group, QStringLiteral("Porta"), QString::number(port));
    setSetting(group, QStringLiteral("Settaggio"), settings);
    if (!divisore.isNull())
        setSetting(group, QStringLiteral("Divisore"), divisore);
}

bool ServerProcess::serviceRegistered()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1String(quorvex::kServiceName));
}

QString ServerProcess::start(const QString &locale)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    if (!locale.isEmpty()) {
        env.insert(QStringLiteral("LC_ALL"), locale);
        env.insert(QStringLiteral("LANG"), locale);
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_config.path());
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(captureLog ? QProcess::ForwardedOutputChannel : QProcess::ForwardedChannels);
    m_server.setChildProcessModifier(beforeServerStarts ? beforeServerStarts : std::function<void()>());
    m_server.start(QStringLiteral(QUORVEXD_PATH), {QStringLiteral("--serve")});
    if (!m_server.waitForStarted(10000))
        return QStringLiteral("the server did not start: ") + m_server.errorString();
    // The name must be owned by this process, not by one that is ending. A
    // server that has already ended has pid 0, as has a name nobody owns:
    // that is no start.
    const bool owned = waitUntil([this] {
        const qint64 pid = m_server.processId();
        return pid != 0
            && QDBusConnection::sessionBus().interface()->servicePid(QLatin1String(quorvex::kServiceName)).value()
            == quint32(pid);
    });
    return owned ? QString() : QStringLiteral("the server did not take its bus name");
}

bool ServerProcess::setActivationEnvironment(const QMap<QString, QString> &extra) const
{
    QMap<QString, QString> vars{{QStringLiteral("XDG_CONFIG_HOME"), configHome()},
                                {QStringLiteral("XDG_DATA_HOME"), dataHome()},
                                {QStringLiteral("XDG_RUNTIME_DIR"), configHome()},
                                {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}};
    vars.insert(extra);
    QDBusMessage env = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    qDBusRegisterMetaType<QMap<QString, QString>>();
    env << QVariant::fromValue(vars);
    return QDBusConnection::sessionBus().call(env).type() == QDBusMessage::ReplyMessage;
}

QString ServerProcess::serverLog()
{
    m_log += QString::fromLocal8Bit(m_server.readAllStandardError());
    return m_log;
}

void ServerProcess::stopServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
    waitUntil([] { return !serviceRegistered(); }, 5000);
}

bool ServerProcess::serverRunning() const
{
    return m_server.state() != QProcess::NotRunning;
}

QDBusMessage ServerProcess::callOn(QDBusConnection &connection, const QString &method, const QVariantList &args)
{
    return callInterface(connection, quorvex::kInterfaceName, method, args);
}

QDBusMessage ServerProcess::call(const QString &method, const QVariantList &args)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return callOn(bus, method, args);
}

} // namespace support
