#include "api/modbus/MbapFrame.h"

#include <QDataStream>
#include <QtEndian>

namespace quorvex::modbus {

namespace {
constexpr int kHeader = 7; // transaction, protocol, length, unit
}

MbapFrame takeFrame(QByteArray &buffer)
{
    MbapFrame frame;
    if (buffer.size() < kHeader)
        return frame;
    const auto *b = reinterpret_cast<const uchar *>(buffer.constData());
    const quint16 protocol = qFromBigEndian<quint16>(b + 2);
    const quint16 length = qFromBigEndian<quint16>(b + 4); // unit and PDU
    if (protocol != 0 || length < 2 || length > 254) {
        frame.status = MbapFrame::Status::NotModbusTcp;
        return frame;
    }
    if (buffer.size() < 6 + length)
        return frame;
    frame.status = MbapFrame::Status::Complete;
    frame.transaction = qFromBigEndian<quint16>(b);
    frame.unit = b[6];
    frame.request = QModbusRequest(QModbusPdu::FunctionCode(b[7]), buffer.mid(8, length - 2));
    buffer.remove(0, 6 + length);
    return frame;
}

QByteArray responseFrame(quint16 transaction, quint8 unit, const QModbusResponse &response)
{
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out << transaction << quint16(0) << quint16(response.size() + 1) << unit << response;
    return frame;
}

} // namespace quorvex::modbus
