#pragma once
// Modbus RTU frames of a defined operation: the request's frame (unit,
// protocol data unit, CRC), how long its reply is, and what the reply
// says. Pure functions over bytes, so the reply reader can be fuzzed.
#include "drivers/InstrumentDefinitions.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace quorvex {

// The CRC-16 of Modbus RTU (polynomial 0xA001, start 0xFFFF).
quint16 modbusCrc(QByteArrayView bytes);

// The request frame of the operation: read its registers, or write its value.
QByteArray modbusRequestFrame(const DefinedOperation &op);

// Bytes the whole reply has, known from its first two (unit, function);
// an exception reply is 5.
int modbusReplyLength(QByteArrayView start, const DefinedOperation &op);

struct ModbusReading {
    std::optional<double> value; // the raw value times the factor; a write's 0
    QString problem; // why there is none: bad CRC, exception, wrong unit...
};

// What the reply frame says for the operation.
ModbusReading readModbusReply(QByteArrayView reply, const DefinedOperation &op);

// The value of two registers in the given order (A: the high byte of the first).
quint32 joinRegisters(quint16 first, quint16 second, WordOrder order);

// The 3.5-character silence between frames at the baud rate (fixed
// 1750 us above 19200 baud), in microseconds; 11 bits a character.
qint64 modbusSilenceMicroseconds(qint32 baud);

} // namespace quorvex
