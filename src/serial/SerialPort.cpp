#include "serial/SerialPort.h"

#include "common/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quorvex {

namespace {

// The process named in a lock file, when it runs; 0 otherwise.
qint64 liveLockHolder(const QString &lockFile)
{
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pid = file.readLine().trimmed().toLongLong();
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM) ? pid : 0;
}

// Who keeps a device locked through its lock file: a process that runs, or
// one that has ended and left a lock file this user may not remove (in the
// sticky lock folder, another user's file). Empty when the file is gone.
QString lockHolder(const QString &lockFile)
{
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return QFile::exists(lockFile) ? QStringLiteral("locked: the lock file %1 cannot be read").arg(lockFile)
                                       : QString();
    const qint64 pid = file.readLine().trimmed().toLongLong();
    if (pid <= 0)
        return QStringLiteral("locked by the lock file %1").arg(lockFile);
    if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
        return QStringLiteral("in use by process %1 (lock file %2)").arg(pid).arg(lockFile);
    return QStringLiteral("the lock file %1 was left by process %2, which no longer runs, and cannot be removed "
                          "by this user: remove it")
        .arg(lockFile)
        .arg(pid);
}

// Asks the driver to hand received bytes on at once: USB bridges turn this
// into their shortest latency timer (FTDI's 1 ms instead of 16 ms), which on
// a real line is most of a reading's time. A driver without the request (a
// pseudo-terminal, many on-board UARTs) keeps its behaviour.
void requestLowLatency(int fd, const QString &device)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        qCDebug(lcPort).noquote() << QStringLiteral("%1: no low-latency request: %2")
                                         .arg(device, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (serial.flags & ASYNC_LOW_LATENCY)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        qCDebug(lcPort).noquote()
            << QStringLiteral("%1: low latency refused: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno)));
}

QSerialPort::Parity parityOf(char letter)
{
    switch (letter) {
    case 'E': return QSerialPort::EvenParity;
    case 'O': return QSerialPort::OddParity;
    case 'M': return QSerialPort::MarkParity;
    case 'S': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits stopBitsOf(const QString &text)
{
    // termios knows one or two stop bits; with two selected, a UART sends
    // one and a half at 5 data bits, which is where 1.5 is used.
    return text == QLatin1String("1") ? QSerialPort::OneStop : QSerialPort::TwoStop;
}
} // namespace

SerialPort::SerialPort(DevicePathForNumber pathForNumber, QObject *parent)
        : PortControl(parent), m_pathForNumber(std::move(pathForNumber))
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
}

SerialPort::SerialPort(const QString &devicePath, QObject *parent) : SerialPort(DevicePathForNumber(), parent)
{
    m_fixedPath = devicePath;
}

QString SerialPort::devicePath() const
{
    if (!m_fixedPath.isEmpty() || !m_pathForNumber)
        return m_fixedPath;
    return m_pathForNumber(CommPort());
}

bool SerialPort::deviceMoved() const
{
    return PortOpen() && m_pathForNumber && m_pathForNumber(CommPort()) != m_openPath;
}

QString SerialPort::lockFilePath(const QString &devicePath)
{
    QString name = devicePath.startsWith(QLatin1String("/dev/")) ? devicePath.mid(5) : devicePath;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QLatin1String("/LCK.."));
    const QStringList folders = {QStringLiteral("/var/lock"),
                                 QStringLiteral("/etc/locks"),
                                 QStringLiteral("/var/spool/locks"),
                                 QStringLiteral("/var/spool/uucp"),
                                 QStringLiteral("/tmp"),
                                 QStringLiteral("/var/tmp"),
                                 QStringLiteral("/var/lock/lockdev"),
                                 QStringLiteral("/run/lock"),
                                 QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        const QFileInfo info(folder);
        if (info.isReadable() && (QFile::exists(folder + name) || info.isWritable()))
            return folder + name;
    }
    return QString();
}

bool SerialPort::devicePresent() const
{
    return QFileInfo::exists(devicePath());
}

QString SerialPort::openFailure() const
{
    const QString text = m_port.errorString();
    if (m_port.error() != QSerialPort::PermissionError)
        return text;
    // The lock file QSerialPort refused: a stale one of an ended process is
    // removed by QSerialPort itself when it may be, so what is left is a
    // holder that runs or a file this user may not remove.
    const QString lockFile = lockFilePath(devicePath());
    if (!lockFile.isEmpty()) {
        const QString holder = lockHolder(lockFile);
        if (!holder.isEmpty())
            return holder;
    }
    if (::access(QFile::encodeName(devicePath()).constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return text + QStringLiteral(" (is the user in the dialout group?)");
    return text;
}

bool SerialPort::openDevice(QString *why)
{
    m_readErrors.invalidate();
    m_openPath = devicePath();
    m_port.setPortName(m_openPath);
    m_heldElsewhere = false;
    if (!m_port.open(QIODevice::ReadWrite)) {
        *why = openFailure();
        m_heldElsewhere =
            m_port.error() == QSerialPort::PermissionError && liveLockHolder(lockFilePath(m_openPath)) != 0;
        return false;
    }
    if (!applySettings(lineSettings())) {
        *why = m_port.errorString();
        m_port.close();
        return false;
    }
    requestLowLatency(int(m_port.handle()), m_openPath);
    m_port.clear(QSerialPort::Input);
    return true;
}

void SerialPort::closeDevice()
{
    if (!m_port.isOpen())
        return;
    // QSerialPort sends from the event loop; what a driver wrote just before
    // the port closes (a zero command on a port opened for one call) must
    // still reach the line.
    if (m_port.bytesToWrite() > 0 && m_port.error() == QSerialPort::NoError) {
        m_port.flush();
        if (m_port.bytesToWrite() > 0)
            m_port.waitForBytesWritten(1000);
    }
    m_port.close();
}

bool SerialPort::applySettings(const LineSettings &s)
{
    return m_port.setBaudRate(s.baud) && m_port.setParity(parityOf(s.parity))
        && m_port.setDataBits(QSerialPort::DataBits(s.dataBits)) && m_port.setStopBits(stopBitsOf(s.stopBits))
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
}

bool SerialPort::writeDevice(const QByteArray &bytes)
{
    return m_port.write(bytes) == bytes.size();
}

void SerialPort::discardDeviceInput()
{
    // Drops both the device's input queue and QSerialPort's own buffer.
    m_port.clear(QSerialPort::Input);
}

void SerialPort::onReadyRead()
{
    receive(m_port.readAll());
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    // A device that went away, or a line that keeps failing, is reported
    // over and over at full speed until the port closes: close it. A single
    // read error is also what QSerialPort reports when data it was told
    // about was discarded before it read it (a discard while an instrument
    // transmits), so one read error alone does not close the port.
    // A device whose file has gone (unplugged, a closed pseudo-terminal)
    // reads as an end of file, which Qt calls "Unknown error".
    QString why = m_port.errorString();
    if (!devicePresent())
        why = QStringLiteral("its device file is gone");
    else if (why == QLatin1String("Unknown error"))
        why.clear();
    if (error == QSerialPort::ResourceError) {
        deviceFailed(why);
    } else if (error == QSerialPort::ReadError) {
        m_port.clearError();
        if (!m_readErrors.isValid() || m_readErrors.elapsed() > kReadErrorWindowMs) {
            m_readErrors.start();
            m_readErrorCount = 0;
        }
        if (++m_readErrorCount >= kReadErrorsToFail)
            deviceFailed(why);
    }
}

} // namespace quorvex
