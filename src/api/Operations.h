#pragma once
// The operations of the interface _Global, in slot order, with their
// dispatch identifiers, parameters and result types. The D-Bus binding,
// Invoke by identifier, the introspection data and the command-line client
// all follow this table.
#include <QString>
#include <QtGlobal>
#include <vector>

namespace quorvex {

enum class ValueType { None, Boolean, Double, Text, Any, Port };

struct Parameter {
    const char *name;
    ValueType type;
    bool optional = false;
    bool defaultValue = false; // Boolean parameters only
};

struct Operation {
    int slot;
    const char *name;
    quint32 dispId;
    std::vector<Parameter> params;
    ValueType result;
    bool driver; // a device-specific operation, found in the driver table

    int requiredCount() const;
};

const std::vector<Operation> &operations();
// Exact name (D-Bus names are case-sensitive).
const Operation *findOperation(const QString &name);
const Operation *findOperation(quint32 dispId);

// The D-Bus signature letter of a value type ("" for None).
QString dbusSignature(ValueType type);

} // namespace quorvex
