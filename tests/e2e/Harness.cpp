#include "tests/e2e/Harness.h"

#include <QCoreApplication>
#include <QProcess>

namespace e2e {

QString clientPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../tools/quorvex");
}

ClientRun runClient(const QStringList &args, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(clientPath(), args);
    process.closeWriteChannel();
    ClientRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "the client did not finish";
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

ServerTest::ServerTest()
{
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
}

void ServerTest::startServer(const QString &locale)
{
    const QString problem = start(locale);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
}

double ServerTest::callDouble(const QString &method, const QVariantList &args)
{
    const QDBusMessage reply = call(method, args);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
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
