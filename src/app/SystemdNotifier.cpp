#include "app/SystemdNotifier.h"

#include "app/FeedLink.h"
#include "common/Logging.h"
#include "line/Line.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

// Whether a configured role cannot give readings now, as far as its
// driver, its port and the last exchanges tell.
bool roleFailing(const Device &record)
{
    const bool anyDriver = std::any_of(record.drivers.begin(), record.drivers.end(),
                                       [](const Recipe *driver) { return driver != nullptr; });
    if (!anyDriver || !record.port)
        return true;
    return record.port->lastError().has_value() || record.port->health().silentExchanges > 0;
}

quint64 monotonicMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1000000 + quint64(now.tv_nsec) / 1000;
}

} // namespace

QString serverStatusLine(const Line &line, FeedLink *feed)
{
    QStringList failing;
    int configured = 0;
    for (int index = 0; index < kRoleCount; ++index) {
        const Device *record = nullptr;
        try {
            record = &line.device(Role(index));
        } catch (const AutomationError &) {
            break; // not loaded yet
        }
        if (record->Marca.isEmpty())
            continue;
        ++configured;
        if (line.portHost() && roleFailing(*record))
            failing << QLatin1String(kRoles[index].group);
    }
    QString text =
        configured == 1 ? QStringLiteral("1 role configured") : QStringLiteral("%1 roles configured").arg(configured);
    if (configured > 0 && !line.portHost())
        text += QStringLiteral(", ports closed until a client comes");
    else if (configured > 0)
        text +=
            QStringLiteral(", %1 failing%2")
                .arg(failing.size())
                .arg(failing.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(failing.join(QStringLiteral(", "))));
    if (feed) {
        const QVariantMap status = feed->status();
        text += QStringLiteral("; plant feed %1").arg(status.value(QStringLiteral("state")).toString());
        const QVariantMap node = status.value(QStringLiteral("sparkplug")).toMap();
        if (node.value(QStringLiteral("waitingForHost")).toBool())
            text += QStringLiteral("; Sparkplug B %1").arg(node.value(QStringLiteral("problem")).toString());
    }
    return text;
}

SystemdNotifier::SystemdNotifier(Line &line, FeedLink *feed, QObject *parent)
        : QObject(parent), m_line(line), m_feed(feed), m_active(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
{
    if (!m_active)
        return;
    connect(&line, &Line::aboutToReload, this, [this] {
        if (!m_ready || m_stopping)
            return;
        m_reloading = true;
        send(QByteArrayLiteral("RELOADING=1\nMONOTONIC_USEC=") + QByteArray::number(monotonicMicroseconds()));
    });
    connect(&line, &Line::configurationLoaded, this, [this] {
        if (std::exchange(m_reloading, false))
            send(QByteArrayLiteral("READY=1"));
        if (m_ready)
            updateStatus();
    });

    // The keep-alive goes out from the event loop at half the period the
    // service manager gave: a loop that is stuck sends none.
    uint64_t period = 0;
    if (sd_watchdog_enabled(0, &period) > 0 && period > 0) {
        m_watchdog.setTimerType(Qt::PreciseTimer);
        const auto half = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(period / 2));
        m_watchdog.setInterval(std::max(half, std::chrono::milliseconds(1)));
        connect(&m_watchdog, &QTimer::timeout, this, [this] { send(QByteArrayLiteral("WATCHDOG=1")); });
        m_watchdog.start();
    }
    m_statusCheck.setInterval(1s);
    connect(&m_statusCheck, &QTimer::timeout, this, &SystemdNotifier::updateStatus);
}

void SystemdNotifier::ready()
{
    if (!m_active || std::exchange(m_ready, true))
        return;
    m_status = serverStatusLine(m_line, m_feed);
    send(QByteArrayLiteral("READY=1\nSTATUS=") + m_status.toUtf8());
    m_statusCheck.start();
}

void SystemdNotifier::stopping()
{
    if (!m_active || std::exchange(m_stopping, true))
        return;
    m_statusCheck.stop();
    send(QByteArrayLiteral("STOPPING=1"));
}

void SystemdNotifier::updateStatus()
{
    if (m_stopping)
        return;
    const QString status = serverStatusLine(m_line, m_feed);
    if (status == m_status)
        return;
    m_status = status;
    send(QByteArrayLiteral("STATUS=") + m_status.toUtf8());
}

void SystemdNotifier::send(const QByteArray &state)
{
    const int result = sd_notify(0, state.constData());
    if (result >= 0 || std::exchange(m_sendFailed, true))
        return;
    // Said once: without its messages the service manager may take the
    // server for hung and restart it.
    qCWarning(lcServer).noquote() << QStringLiteral(
                                         "cannot tell the service manager (NOTIFY_SOCKET) how the server is: %1")
                                         .arg(QString::fromLocal8Bit(std::strerror(-result)));
}

} // namespace quorvex
