#include "serial/SerialPort.h"

namespace quorvex {

namespace {
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

bool SerialPort::openDevice(QString *why)
{
    m_readErrors.invalidate();
    m_openPath = devicePath();
    m_port.setPortName(m_openPath);
    if (!m_port.open(QIODevice::ReadWrite)) {
        *why = m_port.errorString();
        return false;
    }
    if (!applySettings(lineSettings())) {
        *why = m_port.errorString();
        m_port.close();
        return false;
    }
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
    const QString why = m_port.errorString();
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
