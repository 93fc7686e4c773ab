#pragma once
// The Modbus TCP face's register map, read from the table of published
// values: a row with a Modbus cell is a register (a health row one per
// reading role, in role order). The face builds its registers from it and
// the documentation page is generated from it. The same map serves the
// input registers (function 4) and the holding registers (function 3);
// 32-bit values are sent high word first.
#include "line/PublishedValues.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

namespace quorvex::modbus {

struct Register {
    quint16 address;
    ModbusType type;
    Value value;
    Role role; // for a health row: whose
};

// The registers in address order, without gaps.
const QList<Register> &registerMap();

// Registers the map covers, from address 0.
int registerCount();
// Words a value of type takes.
int wordCount(ModbusType type);

// The registers of the whole map, from address 0, each register's value
// given by valueOf. A float is IEEE 754 single precision; whole numbers are
// clamped to their type's range.
QList<quint16> encodeImage(const std::function<double(const Register &)> &valueOf);

// The documentation page of the map (Markdown).
QString registerMapPage();

} // namespace quorvex::modbus
