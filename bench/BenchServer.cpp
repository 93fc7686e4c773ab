#include "bench/BenchServer.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace bench {

namespace {
const QString kService = QStringLiteral("com.velkaro.Quorvex");
}

BenchServer::BenchServer() = default;

BenchServer::~BenchServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void BenchServer::setSetting(const QString &group, const QString &key, const QString &value)
{
    QSettings settings(m_config.path() + QStringLiteral("/Velkaro s.r.l./Quorvex.ini"), QSettings::IniFormat);
    settings.setValue(group + QLatin1Char('/') + key, value);
}

void BenchServer::mapPort(int n, const std::string &path)
{
    setSetting(QStringLiteral("Porte"), QString::number(n), QString::fromStdString(path));
}

void BenchServer::configureRole(const QString &group, const QString &brand, const QString &model, int port,
                                const QString &settings)
{
    setSetting(group, QStringLiteral("Marca"), brand);
    setSetting(group, QStringLiteral("Modello"), model);
    setSetting(group, QStringLiteral("Porta"), QString::number(port));
    setSetting(group, QStringLiteral("Settaggio"), settings);
}

bool BenchServer::start()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    // The coil store too stays in the scratch folder.
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_config.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_config.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(QStringLiteral(QUORVEXD_PATH), {QStringLiteral("--serve")});
    if (!m_process.waitForStarted(10000))
        return false;
    QDeadlineTimer deadline(10000);
    // The name must be owned by this process, not by one that is ending.
    // (A server that has already ended has pid 0, as has a name nobody owns.)
    while (m_process.processId() == 0
           || QDBusConnection::sessionBus().interface()->servicePid(kService).value()
               != quint32(m_process.processId())) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

double BenchServer::cpuMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses; utime and stime are the
    // 14th and 15th fields of the line.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

QDBusMessage BenchServer::call(const QString &method, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, QStringLiteral("/com/velkaro/Quorvex/Global"),
                                                          QStringLiteral("com.velkaro.Quorvex.Global"), method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 60000);
}

std::vector<double> BenchServer::timeCalls(const QString &method, const QVariantList &args, int n)
{
    std::vector<double> ms;
    ms.reserve(size_t(n));
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer clock;
        clock.start();
        failed += call(method, args).type() == QDBusMessage::ErrorMessage ? 1 : 0;
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    // A failed call is not a round trip of a reading: say so beside the figures.
    if (failed)
        std::printf("warning: %d of %d calls of %s failed\n", failed, n, qPrintable(method));
    return ms;
}

Stats stats(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[std::min(values.size() - 1, size_t(q * double(values.size())))]; };
    return {at(0.5), at(0.99)};
}

void printRoundTrip(const char *label, const std::vector<double> &ms, int wireBytes, int baud)
{
    const Stats s = stats(ms);
    const double wire = wireMs(wireBytes, baud);
    std::printf("%-40s median %8.2f ms  p99 %8.2f ms  wire %7.2f ms (%d bytes at %d baud)  median/wire %.2f\n",
                label, s.median, s.p99, wire, wireBytes, baud, s.median / wire);
    std::fflush(stdout);
}

} // namespace bench
