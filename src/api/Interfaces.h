#pragma once
// The three interfaces of the object /com/velkaro/Quorvex/Global, from the
// tables generated at build time from their files (data/*.xml), which are the
// one table of their methods: names, arguments, and the signatures each
// method takes. The operations of Global (api/Operations.h), the routing of
// calls (api/Dispatch.h) and the command-line client all follow them.
#include "api/Operations.h"

#include <QString>
#include <vector>

namespace quorvex {

// One <method> element: a method, or one overload of it.
struct Method {
    QString name;
    int slot = 0;
    quint32 dispId = 0;
    std::vector<Parameter> params;
    ValueType result = ValueType::None;
    QString signature; // the D-Bus types of its in-arguments, as the file gives them
};

struct Interface {
    QString name; // kInterfaceName, kDiagnosticsInterface, kHistoryInterface
    QString element; // its <interface> element, as introspection gives it
    std::vector<Method> methods;
};

// Global, Diagnostics and History, in that order.
const std::vector<Interface> &interfaces();
// One of the three by name, or none.
const Interface *findInterface(const QString &name);

// The operations of Global as its interface file declares them, in slot
// order, not bound to recipes or handlers (api/Operations.h binds
// them in the server).
const std::vector<Operation> &declaredOperations();

} // namespace quorvex
