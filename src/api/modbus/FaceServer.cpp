#include "api/modbus/FaceServer.h"

#include "api/modbus/RegisterMap.h"

namespace quorvex::modbus {

namespace {

constexpr quint16 kCoilOn = 0xFF00;

QModbusResponse refused(const QModbusPdu &request, QModbusExceptionResponse::ExceptionCode code)
{
    return QModbusExceptionResponse(request.functionCode(), code);
}

} // namespace

FaceServer::FaceServer(QObject *parent) : QModbusTcpServer(parent)
{
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::InputRegisters, {QModbusDataUnit::InputRegisters, 0, quint16(registerCount())});
    map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 0, quint16(registerCount())});
    map.insert(QModbusDataUnit::Coils, {QModbusDataUnit::Coils, 0, 1});
    setMap(map);
}

bool FaceServer::zeroesLength(const QModbusRequest &request)
{
    if (request.functionCode() != QModbusPdu::WriteSingleCoil || request.dataSize() != 4)
        return false;
    quint16 address = 0, value = 0;
    request.decodeData(&address, &value);
    return address == 0 && value == kCoilOn;
}

void FaceServer::setImage(const QList<quint16> &words)
{
    setData(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, words));
    setData(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, words));
}

QModbusResponse FaceServer::processRequest(const QModbusPdu &request)
{
    switch (request.functionCode()) {
    case QModbusPdu::ReadHoldingRegisters:
    case QModbusPdu::ReadInputRegisters:
        if (refresh)
            refresh();
        return QModbusTcpServer::processRequest(request);
    case QModbusPdu::ReadCoils: return QModbusTcpServer::processRequest(request);
    case QModbusPdu::WriteSingleCoil: {
        if (!coilWritable)
            return refused(request, QModbusExceptionResponse::IllegalFunction);
        quint16 address = 0, value = 0;
        if (request.dataSize() != 4)
            return refused(request, QModbusExceptionResponse::IllegalDataValue);
        request.decodeData(&address, &value);
        if (address != 0)
            return refused(request, QModbusExceptionResponse::IllegalDataAddress);
        if (value != 0 && value != kCoilOn)
            return refused(request, QModbusExceptionResponse::IllegalDataValue);
        // OFF does nothing; ON is the face's (zeroesLength) and never gets here.
        return QModbusResponse(request.functionCode(), request.data());
    }
    default: return refused(request, QModbusExceptionResponse::IllegalFunction);
    }
}

} // namespace quorvex::modbus
