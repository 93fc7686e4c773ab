#pragma once
// The operations of the interface _Global, in slot order, with their
// dispatch identifiers, parameters, defaults and result types, from the
// table generated at build time from the interface file
// (data/com.velkaro.Quorvex.Global.xml), which is the one table of
// operations. The D-Bus binding, Invoke by identifier and the command-line
// client all follow it.
#include "drivers/InstrumentModel.h"
#include "line/Device.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace quorvex {

class Global;
struct CallArgs;

enum class ValueType { None, Boolean, Double, Text, Any, Port };

struct Parameter {
    QString name;
    ValueType type;
    bool optional = false; // an overload without it exists
    bool defaultValue = false; // Boolean parameters only
};

// A generic operation of Global, run with the call's arguments.
using GenericOperation = QCoro::Task<QVariant> (*)(Global &global, CallArgs args);

struct Operation {
    int slot;
    QString name;
    quint32 dispId;
    std::vector<Parameter> params;
    ValueType result;
    // A driver operation runs its recipe. A generic one runs
    // generic if it has one, else it reads (or for a text result, runs the
    // service command of) the instrument of its role operation's role.
    const Recipe *recipe = nullptr;
    GenericOperation generic = nullptr;
    std::optional<RoleOperation> roleOperation;

    bool driver() const { return recipe != nullptr; }
    // A direct driver operation as declared: its first argument names the
    // port (bound to its row or not).
    bool takesPort() const { return !params.empty() && params.front().type == ValueType::Port; }
    int requiredCount() const;
};

const std::vector<Operation> &operations();
// Exact name (D-Bus names are case-sensitive).
const Operation *findOperation(const QString &name);
const Operation *findOperation(quint32 dispId);

// The D-Bus signature letter of a value type ("" for None).
QString dbusSignature(ValueType type);

// The interface element of Global, as the server introspects it.
QString interfaceXml();

// Global's generic operation of that name, if it needs more than its role
// operation (defined beside Global).
GenericOperation genericOperation(const QString &name);

} // namespace quorvex
