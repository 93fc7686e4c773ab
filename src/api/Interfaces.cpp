#include "api/Interfaces.h"

#include "api/BusNames.h"
#include "api/InterfaceTable.h"

#include <algorithm>
#include <span>

namespace quorvex {

namespace {

ValueType valueType(QLatin1String signature, QLatin1String name)
{
    if (signature == QLatin1String("b"))
        return ValueType::Boolean;
    if (signature == QLatin1String("d"))
        return ValueType::Double;
    if (signature == QLatin1String("v"))
        return ValueType::Any;
    if (signature == QLatin1String("s"))
        return name == QLatin1String("MSCObj") ? ValueType::Port : ValueType::Text;
    return ValueType::None;
}

Interface readInterface(const generated::InterfaceFile &file)
{
    Interface interface {
        QLatin1String(file.name), QString::fromUtf8(file.element), {}
    };
    for (const generated::InterfaceMethod &row : std::span(file.methods, size_t(file.methodCount))) {
        Method method{QLatin1String(row.name),
                      row.slot,
                      row.dispId,
                      {},
                      valueType(QLatin1String(row.result), QLatin1String()),
                      {}};
        for (const generated::InterfaceArg &arg : std::span(row.args, size_t(row.argCount))) {
            method.signature += QLatin1String(arg.type);
            method.params.push_back({QLatin1String(arg.name),
                                     valueType(QLatin1String(arg.type), QLatin1String(arg.name)), false,
                                     arg.defaultValue});
        }
        interface.methods.push_back(std::move(method));
    }
    return interface;
}

// Overloads of one name are one operation: the longest gives the
// parameters, and those the shorter ones leave out are optional.
std::vector<Operation> makeOperations()
{
    std::vector<Operation> table;
    for (const Method &method : findInterface(QLatin1String(kInterfaceName))->methods) {
        if (method.slot == 0)
            continue; // Invoke, which is not an operation of the class
        auto same =
            std::find_if(table.begin(), table.end(), [&](const Operation &op) { return op.name == method.name; });
        if (same == table.end()) {
            table.push_back({method.slot, method.name, method.dispId, method.params, method.result, {}, {}, {}});
            continue;
        }
        const size_t shorter = std::min(same->params.size(), method.params.size());
        if (method.params.size() > same->params.size())
            same->params = method.params;
        for (size_t i = shorter; i < same->params.size(); ++i)
            same->params[i].optional = true;
    }
    std::sort(table.begin(), table.end(), [](const Operation &a, const Operation &b) { return a.slot < b.slot; });
    for (Operation &op : table)
        op.roleOperation = roleOperationNamed(op.name);
    return table;
}

} // namespace

const std::vector<Interface> &interfaces()
{
    static const std::vector<Interface> all = [] {
        std::vector<Interface> read;
        for (const generated::InterfaceFile &file : generated::kInterfaceFiles)
            read.push_back(readInterface(file));
        return read;
    }();
    return all;
}

const Interface *findInterface(const QString &name)
{
    for (const Interface &interface : interfaces()) {
        if (interface.name == name)
            return &interface;
    }
    return nullptr;
}

const std::vector<Operation> &declaredOperations()
{
    static const std::vector<Operation> table = makeOperations();
    return table;
}

QString interfaceXml()
{
    return findInterface(QLatin1String(kInterfaceName))->element;
}

QString dbusSignature(ValueType type)
{
    switch (type) {
    case ValueType::None: return QString();
    case ValueType::Boolean: return QStringLiteral("b");
    case ValueType::Double: return QStringLiteral("d");
    case ValueType::Text:
    case ValueType::Port: return QStringLiteral("s");
    case ValueType::Any: return QStringLiteral("v");
    }
    return QString();
}

int Operation::requiredCount() const
{
    int n = 0;
    for (const Parameter &p : params)
        n += p.optional ? 0 : 1;
    return n;
}

} // namespace quorvex
