#include "api/Operations.h"

#include "api/BusNames.h"
#include "api/Interfaces.h"

#include <QHash>

namespace quorvex {

namespace {

// Overloads of one name are one operation: the longest gives the
// parameters, and those the shorter ones leave out are optional.
std::vector<Operation> makeOperations()
{
    std::vector<Operation> table;
    for (const Method &method : findInterface(QLatin1String(kInterfaceName))->methods) {
        if (method.slot == 0)
            continue; // Invoke, which is not an operation of the class
        auto same = std::find_if(table.begin(), table.end(), [&](const Operation &op) { return op.name == method.name; });
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
    for (Operation &op : table) {
        op.model = findInstrumentModel(op.name);
        if (op.model)
            continue;
        op.generic = genericOperation(op.name);
        op.roleOperation = roleOperationNamed(op.name);
    }
    return table;
}

} // namespace

int Operation::requiredCount() const
{
    int n = 0;
    for (const Parameter &p : params)
        n += p.optional ? 0 : 1;
    return n;
}

QString interfaceXml()
{
    return findInterface(QLatin1String(kInterfaceName))->element;
}

const std::vector<Operation> &operations()
{
    static const std::vector<Operation> table = makeOperations();
    return table;
}

const Operation *findOperation(const QString &name)
{
    // The D-Bus member name is the only text looked up on a call.
    static const QHash<QString, const Operation *> byName = [] {
        QHash<QString, const Operation *> index;
        for (const Operation &op : operations())
            index.insert(op.name, &op);
        return index;
    }();
    return byName.value(name);
}

const Operation *findOperation(quint32 dispId)
{
    for (const Operation &op : operations()) {
        if (op.dispId == dispId)
            return &op;
    }
    return nullptr;
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

} // namespace quorvex
