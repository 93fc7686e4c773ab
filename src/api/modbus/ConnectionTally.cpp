#include "api/modbus/ConnectionTally.h"

#include <QLoggingCategory>
#include <QStringList>

namespace quorvex {
Q_DECLARE_LOGGING_CATEGORY(lcModbus)
}

namespace quorvex::modbus {

namespace {

using namespace std::chrono_literals;

constexpr qint64 kMinuteMs = 60000;
// A minute with this many connections is summed up even when none was closed.
constexpr int kMany = 10;

// Each cause as the summary counts it, in the order of the enum.
const char *const kCounted[] = {
    "closed for frames that are not Modbus TCP",
    "closed without a request for Inattivo",
    "closed for sending more than they waited for",
    "refused for an address not in Client",
    "refused over MaxClient",
};

// Each cause as a line about one connection.
QString closedLine(ConnectionTally::Closed why, const QString &peer, const QString &detail)
{
    using C = ConnectionTally::Closed;
    switch (why) {
    case C::NotModbus:
        return QStringLiteral("Modbus TCP client %1 sent a frame that is not Modbus TCP: closed").arg(peer);
    case C::Idle:
        return QStringLiteral("Modbus TCP client %1 sent no request for %2 s ([ModbusTCP] Inattivo): closed")
            .arg(peer, detail);
    case C::Overflow: return QStringLiteral("Modbus TCP client %1 sent more than it waits for: closed").arg(peer);
    case C::NotAllowed:
        return QStringLiteral("Modbus TCP connection from %1 refused: not in [ModbusTCP] Client").arg(peer);
    case C::OverLimit:
        return QStringLiteral("Modbus TCP connection from %1 refused: %2 clients are connected, as many as "
                              "[ModbusTCP] MaxClient=%2 allows (further refusals this minute are only counted)")
            .arg(peer, detail);
    }
    return QString();
}

} // namespace

ConnectionTally::ConnectionTally(QObject *parent) : QObject(parent)
{
    m_minute.setSingleShot(true);
    m_minute.setInterval(std::chrono::milliseconds(kMinuteMs));
    connect(&m_minute, &QTimer::timeout, this, &ConnectionTally::summarize);
}

void ConnectionTally::count()
{
    if (!m_minute.isActive())
        m_minute.start();
}

void ConnectionTally::connected(const QString &peer)
{
    ++m_connections;
    count();
    qCDebug(lcModbus).noquote() << QStringLiteral("Modbus TCP client %1 connected").arg(peer);
}

void ConnectionTally::disconnected(const QString &peer)
{
    qCDebug(lcModbus).noquote() << QStringLiteral("Modbus TCP client %1 disconnected").arg(peer);
}

void ConnectionTally::closed(Closed why, const QString &peer, const QString &detail)
{
    const size_t i = size_t(why);
    ++m_closed[i];
    count();
    const QString line = closedLine(why, peer, detail);
    // A refusal is what an integrator must act on: the first of a minute is told.
    const bool refusal = why == Closed::NotAllowed || why == Closed::OverLimit;
    if (refusal && (!m_lastTold[i].isValid() || m_lastTold[i].elapsed() >= kMinuteMs)) {
        m_lastTold[i].start();
        if (why == Closed::OverLimit)
            qCWarning(lcModbus).noquote() << line;
        else
            qCInfo(lcModbus).noquote() << line;
        return;
    }
    qCDebug(lcModbus).noquote() << line;
}

void ConnectionTally::flush()
{
    m_minute.stop();
    summarize();
}

void ConnectionTally::summarize()
{
    int closedByFace = 0;
    for (int n : m_closed)
        closedByFace += n;
    if (m_connections >= kMany || closedByFace > 0) {
        QStringList parts{m_connections == 1 ? QStringLiteral("1 connection")
                                             : QStringLiteral("%1 connections").arg(m_connections)};
        for (size_t i = 0; i < m_closed.size(); ++i) {
            if (m_closed[i] > 0)
                parts << QStringLiteral("%1 %2").arg(m_closed[i]).arg(QLatin1String(kCounted[i]));
        }
        qCInfo(lcModbus).noquote()
            << QStringLiteral("Modbus TCP in the last minute: %1").arg(parts.join(QStringLiteral(", ")));
    }
    m_connections = 0;
    m_closed.fill(0);
}

} // namespace quorvex::modbus
