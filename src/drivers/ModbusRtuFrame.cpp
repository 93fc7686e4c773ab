#include "drivers/ModbusRtuFrame.h"

#include <QModbusRequest>
#include <QModbusResponse>
#include <QtEndian>
#include <cstring>

namespace quorvex {

quint16 modbusCrc(QByteArrayView bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

namespace {

QModbusRequest requestPdu(const DefinedOperation &op)
{
    const auto address = quint16(op.address);
    switch (op.function) {
    case 4: return QModbusRequest(QModbusPdu::ReadInputRegisters, address, quint16(op.registerCount()));
    case 5: return QModbusRequest(QModbusPdu::WriteSingleCoil, address, quint16(op.value ? 0xFF00 : 0x0000));
    case 6: return QModbusRequest(QModbusPdu::WriteSingleRegister, address, quint16(op.value));
    default: return QModbusRequest(QModbusPdu::ReadHoldingRegisters, address, quint16(op.registerCount()));
    }
}

QString exceptionName(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("server device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("server device busy");
    default: return QStringLiteral("code %1").arg(code);
    }
}

double typed(const QList<quint16> &regs, const DefinedOperation &op)
{
    switch (op.type) {
    case RegisterType::Int16: return qint16(regs[0]);
    case RegisterType::UInt16: return regs[0];
    case RegisterType::Int32: return qint32(joinRegisters(regs[0], regs[1], op.order));
    case RegisterType::UInt32: return joinRegisters(regs[0], regs[1], op.order);
    case RegisterType::Float32: {
        const quint32 bits = joinRegisters(regs[0], regs[1], op.order);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    }
    return 0;
}

} // namespace

QByteArray modbusRequestFrame(const DefinedOperation &op)
{
    const QModbusRequest pdu = requestPdu(op);
    QByteArray frame;
    frame.append(char(op.unit));
    frame.append(char(pdu.functionCode()));
    frame.append(pdu.data());
    const quint16 crc = modbusCrc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

int modbusReplyLength(QByteArrayView start, const DefinedOperation &op)
{
    if (start.size() >= 2 && (quint8(start[1]) & 0x80))
        return 5;
    if (op.function == 3 || op.function == 4)
        return 5 + 2 * op.registerCount();
    return 8;
}

quint32 joinRegisters(quint16 first, quint16 second, WordOrder order)
{
    const quint8 a = first >> 8, b = first & 0xFF, c = second >> 8, d = second & 0xFF;
    const auto word = [](quint8 w, quint8 x, quint8 y, quint8 z) {
        return (quint32(w) << 24) | (quint32(x) << 16) | (quint32(y) << 8) | z;
    };
    switch (order) {
    case WordOrder::ABCD: return word(a, b, c, d);
    case WordOrder::CDAB: return word(c, d, a, b);
    case WordOrder::BADC: return word(b, a, d, c);
    case WordOrder::DCBA: return word(d, c, b, a);
    }
    return 0;
}

ModbusReading readModbusReply(QByteArrayView reply, const DefinedOperation &op)
{
    if (reply.size() < 5)
        return {std::nullopt, QStringLiteral("Modbus reply of %1 bytes is too short").arg(reply.size())};
    const QByteArrayView body = reply.first(reply.size() - 2);
    const quint16 crc = quint16(quint8(reply[reply.size() - 2])) | quint16(quint8(reply[reply.size() - 1])) << 8;
    if (modbusCrc(body) != crc)
        return {std::nullopt, QStringLiteral("Modbus reply with a bad CRC")};
    if (quint8(reply[0]) != op.unit)
        return {std::nullopt, QStringLiteral("Modbus reply from unit %1, not %2").arg(quint8(reply[0])).arg(op.unit)};
    const QModbusResponse pdu(QModbusPdu::FunctionCode(quint8(reply[1])), body.sliced(2).toByteArray());
    if (pdu.isException())
        return {std::nullopt,
                QStringLiteral("Modbus exception %1 (%2) from unit %3")
                    .arg(int(pdu.exceptionCode()))
                    .arg(exceptionName(int(pdu.exceptionCode())))
                    .arg(op.unit)};
    if (int(pdu.functionCode()) != op.function)
        return {std::nullopt,
                QStringLiteral("Modbus reply to function %1, not %2").arg(int(pdu.functionCode())).arg(op.function)};
    if (QModbusResponse::calculateDataSize(pdu) != pdu.dataSize())
        return {std::nullopt, QStringLiteral("Modbus reply of the wrong length")};
    if (op.function == 5 || op.function == 6) {
        const QByteArray sent = modbusRequestFrame(op);
        if (reply != QByteArrayView(sent))
            return {std::nullopt, QStringLiteral("Modbus write not echoed as sent")};
        return {0.0, QString()};
    }
    const QByteArray data = pdu.data();
    if (quint8(data[0]) != 2 * op.registerCount())
        return {
            std::nullopt,
            QStringLiteral("Modbus reply with %1 data bytes, not %2").arg(quint8(data[0])).arg(2 * op.registerCount())};
    QList<quint16> regs;
    for (int i = 0; i < op.registerCount(); ++i)
        regs << qFromBigEndian<quint16>(data.constData() + 1 + 2 * i);
    return {typed(regs, op) * op.factor, QString()};
}

qint64 modbusSilenceMicroseconds(qint32 baud)
{
    if (baud <= 0 || baud > 19200)
        return 1750;
    return (35LL * 11 * 1000000) / (10LL * baud) + 1;
}

} // namespace quorvex
