#pragma once
// Modbus TCP framing: the MBAP header (transaction, protocol 0, length, unit)
// in front of each request, as a pure function over the bytes a connection
// has received so far.
#include <QByteArray>
#include <QModbusRequest>

namespace quorvex::modbus {

struct MbapFrame {
    enum class Status { Complete, Incomplete, NotModbusTcp };
    Status status = Status::Incomplete;
    quint16 transaction = 0;
    quint8 unit = 0;
    QModbusRequest request;
};

// Takes the first whole frame off the front of buffer. Incomplete leaves
// buffer as it is; NotModbusTcp (a protocol other than 0, a length outside
// 2..254) means the stream cannot be followed any further.
MbapFrame takeFrame(QByteArray &buffer);

// The frame of a response to a request of that transaction and unit.
QByteArray responseFrame(quint16 transaction, quint8 unit, const QModbusResponse &response);

} // namespace quorvex::modbus
