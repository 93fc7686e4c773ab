#include "tests/e2e/Harness.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QSettings>

#include "line/SettingsStore.h"
#include <QThread>

namespace e2e {

namespace {
const QString kService = QStringLiteral("com.velkaro.Quorvex");
const QString kPath = QStringLiteral("/com/velkaro/Quorvex/Global");
const QString kInterface = QStringLiteral("com.velkaro.Quorvex.Global");
} // namespace

QString clientPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../tools/quorvex");
}

bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

ServerTest::ServerTest()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
}

ServerTest::~ServerTest()
{
    stopServer();
}

void ServerTest::setSetting(const QString &group, const QString &key, const QString &value)
{
    QSettings settings(m_config.path() + QStringLiteral("/Velkaro s.r.l./Quorvex.ini"), quorvex::settingsFormat());
    settings.setValue(group + QLatin1Char('/') + key, value);
}

void ServerTest::mapPort(int n, const std::string &path)
{
    setSetting(QStringLiteral("Porte"), QString::number(n), QString::fromStdString(path));
}

void ServerTest::configureRole(const QString &group, const QString &brand, const QString &model, int port,
                               const QString &divisore, const QString &settings)
{
    setSetting(group, QStringLiteral("Marca"), brand);
    setSetting(group, QStringLiteral("Modello"), model);
    setSetting(group, QStringLiteral("Porta"), QString::number(port));
    setSetting(group, QStringLiteral("Settaggio"), settings);
    if (!divisore.isNull())
        setSetting(group, QStringLiteral("Divisore"), divisore);
}

bool ServerTest::serviceRegistered() const
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kService);
}

void ServerTest::startServer(const QString &locale)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    env.insert(QStringLiteral("LC_ALL"), locale);
    env.insert(QStringLiteral("LANG"), locale);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_config.path());
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(captureLog ? QProcess::ForwardedOutputChannel : QProcess::ForwardedChannels);
    m_server.setChildProcessModifier(beforeServerStarts ? beforeServerStarts : std::function<void()>());
    m_server.start(QStringLiteral(QUORVEXD_PATH), {QStringLiteral("--serve")});
    ASSERT_TRUE(m_server.waitForStarted(10000));
    // The name must be owned by this process, not by one that is ending. A
    // server that has already ended has pid 0, as has a name nobody owns:
    // that is no start.
    ASSERT_TRUE(waitUntil([this] {
        const qint64 pid = m_server.processId();
        return pid != 0
            && QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("com.velkaro.Quorvex")).value()
            == quint32(pid);
    })) << "the server did not take its bus name";
}

QString ServerTest::serverLog()
{
    m_log += QString::fromLocal8Bit(m_server.readAllStandardError());
    return m_log;
}

void ServerTest::stopServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
    waitUntil([this] { return !serviceRegistered(); }, 5000);
}

bool ServerTest::serverRunning() const
{
    return m_server.state() != QProcess::NotRunning;
}

QDBusMessage ServerTest::callOn(QDBusConnection &connection, const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(args);
    return connection.call(message, QDBus::Block, 60000);
}

QDBusMessage ServerTest::call(const QString &method, const QVariantList &args)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return callOn(bus, method, args);
}

double ServerTest::callDouble(const QString &method, const QVariantList &args)
{
    const QDBusMessage reply = call(method, args);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                         << reply.errorMessage().toStdString();
    return reply.arguments().value(0).toDouble();
}

std::pair<QString, QString> ServerTest::callError(const QString &method, const QVariantList &args)
{
    const QDBusMessage reply = call(method, args);
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << method.toStdString() << " did not fail";
    return {reply.errorName(), reply.errorMessage()};
}

void ServerTest::expectTypeMismatch(const QString &driver, const QString &port)
{
    const auto [name, message] = callError(driver, {port});
    EXPECT_EQ(name.toStdString(), "com.velkaro.Quorvex.Error.TypeMismatch") << driver.toStdString();
    EXPECT_TRUE(message.startsWith(QLatin1String("13: "))) << message.toStdString();
}

} // namespace e2e
