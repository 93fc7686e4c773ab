#include "support/MemoryPort.h"

#include <QTimer>

namespace quorvex {

MemoryPort::MemoryPort(QObject *parent) : PortControl(parent) {}

void MemoryPort::feed(const QByteArray &bytes)
{
    receive(bytes);
}

void MemoryPort::feedLater(const QByteArray &bytes, int delayMs)
{
    QTimer::singleShot(delayMs, this, [this, bytes] { receive(bytes); });
}

bool MemoryPort::openDevice(QString *why)
{
    if (openFails)
        *why = QStringLiteral("No such device");
    return !openFails;
}

bool MemoryPort::writeDevice(const QByteArray &bytes)
{
    m_written += bytes;
    if (onWrite)
        onWrite(bytes);
    return true;
}

} // namespace quorvex
