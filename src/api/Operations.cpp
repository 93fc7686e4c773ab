#include "api/Operations.h"

#include "api/BusNames.h"
#include "api/Interfaces.h"

#include <QHash>

namespace quorvex {

namespace {

// The declared operations, each bound to its recipe (a direct
// driver operation) or to Global's code and its role operation.
std::vector<Operation> makeOperations()
{
    std::vector<Operation> table = declaredOperations();
    for (Operation &op : table) {
        op.recipe = findRecipe(op.name);
        if (!op.recipe)
            op.generic = genericOperation(op.name);
    }
    return table;
}

} // namespace

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

} // namespace quorvex
