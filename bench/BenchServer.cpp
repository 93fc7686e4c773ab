#include "bench/BenchServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace bench {

double BenchServer::cpuMs() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_server.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses; utime and stime are the
    // 14th and 15th fields of the line.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double BenchServer::rssMb() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(m_server.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
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
    std::printf("%-40s median %8.2f ms  p99 %8.2f ms  wire %7.2f ms (%d bytes at %d baud)  median/wire %.2f\n", label,
                s.median, s.p99, wire, wireBytes, baud, s.median / wire);
    std::fflush(stdout);
}

} // namespace bench
