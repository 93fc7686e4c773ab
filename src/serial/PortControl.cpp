#include "serial/PortControl.h"

#include "common/AutomationError.h"
#include "common/Logging.h"

namespace quorvex {

namespace {
AutomationError portError(int number, const QString &text)
{
    return AutomationError(ErrorKind::PortError, number, text);
}

// Set only while someone watches the traffic; empty, a port just counts.
PortControl::TrafficTap g_trafficTap;
} // namespace

void PortControl::setTrafficTap(TrafficTap tap)
{
    g_trafficTap = std::move(tap);
}

PortControl::PortControl(QObject *parent) : QObject(parent) {}

PortControl::~PortControl() = default;

void PortControl::requireAlive() const
{
    if (m_retired)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("Port object no longer exists"));
}

void PortControl::requireOpen() const
{
    requireAlive();
    if (m_open)
        return;
    if (m_lastError)
        throw *m_lastError;
    throw portError(8018, onDevice(QStringLiteral("Operation valid only when the port is open")));
}

QString PortControl::onDevice(const QString &text) const
{
    const QString path = devicePath();
    return path.isEmpty() ? text : path + QStringLiteral(": ") + text;
}

QString PortControl::described() const
{
    const QString path = devicePath();
    return QStringLiteral("%1port %2%3")
        .arg(m_roles.isEmpty() ? QString() : m_roles.join(QStringLiteral(", ")) + QStringLiteral(" on "))
        .arg(m_commPort)
        .arg(path.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(path));
}

void PortControl::setCommPort(int number)
{
    requireAlive();
    if (m_open)
        throw portError(8000, QStringLiteral("Operation not valid while the port is open"));
    if (number < kLowestPortNumber || number > kHighestPortNumber)
        throw portError(8002, QStringLiteral("Invalid port number"));
    m_commPort = qint16(number);
}

void PortControl::setSettings(const QString &text)
{
    requireAlive();
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        throw invalidLineSettings(text);
    if (m_open && !applySettings(*parsed))
        throw portError(8015, onDevice(QStringLiteral("Could not set comm state")));
    m_settings = *parsed;
}

void PortControl::setPortOpen(bool open)
{
    requireAlive();
    if (open == m_open) {
        if (open)
            throw portError(8005, QStringLiteral("Port already open"));
        // A port that closed by itself is now closed on purpose.
        m_meantOpen = false;
        m_lastError.reset();
        return;
    }
    m_meantOpen = open;
    if (open) {
        openNow();
    } else {
        m_open = false;
        m_lastError.reset();
        closeDevice();
        m_buffer.clear();
        emit inputChanged();
    }
}

void PortControl::openNow()
{
    m_buffer.clear();
    QString why;
    if (!openDevice(&why)) {
        m_lastError = portError(8002, onDevice(why.isEmpty() ? QStringLiteral("Invalid port number") : why));
        throw *m_lastError;
    }
    m_open = true;
    m_lastError.reset();
}

void PortControl::ensureOpen()
{
    requireAlive();
    if (m_open)
        return;
    if (!m_meantOpen || !devicePresent())
        requireOpen(); // throws why the port is closed
    openNow();
    qCInfo(lcPort).noquote()
        << QStringLiteral("%1: the device is back, opened again at %2").arg(described(), Settings());
}

void PortControl::setInputMode(int mode)
{
    requireAlive();
    if (mode != Text && mode != Binary)
        throw portError(380, QStringLiteral("Invalid property value: input mode %1").arg(mode));
    m_inputMode = mode;
}

qint16 PortControl::InBufferCount() const
{
    requireOpen();
    return qint16(m_buffer.size());
}

void PortControl::setInBufferCount(int count)
{
    requireOpen();
    if (count != 0)
        throw portError(380, QStringLiteral("Invalid property value"));
    discardDeviceInput();
    m_buffer.clear();
}

void PortControl::Output(const QByteArray &bytes)
{
    requireOpen();
    if (!writeDevice(bytes))
        throw portError(8010, onDevice(QStringLiteral("The hardware is not available")));
    m_bytesSent += quint64(bytes.size());
    m_lastTraffic.start();
    if (g_trafficTap)
        g_trafficTap(*this, Direction::Sent, bytes);
}

QVariant PortControl::Input()
{
    requireOpen();
    const QByteArray bytes = std::exchange(m_buffer, QByteArray());
    if (m_inputMode == Binary)
        return bytes;
    return QString::fromLatin1(bytes);
}

QByteArray PortControl::takeInput()
{
    requireOpen();
    return std::exchange(m_buffer, QByteArray());
}

void PortControl::retire()
{
    m_meantOpen = false;
    if (m_open) {
        m_open = false;
        closeDevice();
    }
    m_buffer.clear();
    m_retired = true;
    emit inputChanged();
}

void PortControl::receive(const QByteArray &bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    m_bytesReceived += quint64(bytes.size());
    m_lastTraffic.start();
    // The tap sees the bytes before a waiting driver wakes and answers them.
    if (g_trafficTap)
        g_trafficTap(*this, Direction::Received, bytes);
    m_buffer.append(bytes);
    if (m_buffer.size() > kInBufferSize)
        m_buffer.remove(0, m_buffer.size() - kInBufferSize);
    emit inputChanged();
}

void PortControl::deviceFailed(const QString &why)
{
    if (!m_open)
        return;
    m_open = false;
    closeDevice();
    m_buffer.clear();
    const QString reason = why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why);
    m_lastError = portError(
        8002, onDevice(QStringLiteral("the device went away%1; it is opened again once it is back").arg(reason)));
    // One line when it goes and one when it is back (ensureOpen), never one
    // per call that fails meanwhile.
    qCWarning(lcPort).noquote()
        << QStringLiteral("%1: the device went away%2; it is opened again once it is back").arg(described(), reason);
    emit inputChanged();
}

} // namespace quorvex
