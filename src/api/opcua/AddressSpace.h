#pragma once
// The OPC UA face's address space: the rows of the table of published values
// marked for OPC UA, placed under the line's objects. The face builds the
// nodes of the configured roles from it, and docs/opcua.md is printed from it.
//
// Objects/Linea/<Role>/<Role>.<name> for each configured role (its readings,
// its health), Objects/Linea/Bobine/Bobine.<name> for the last coil record,
// all in the namespace urn:velkaro:quorvex with string NodeIds; a variable's
// browse name is its row's name.
#include "drivers/Roles.h"
#include "line/PublishedValues.h"

#include <QList>
#include <QString>

namespace quorvex::opcua {

inline constexpr char kNamespaceUri[] = "urn:velkaro:quorvex";
inline constexpr char kLineObject[] = "Linea";
inline constexpr char kCoilObject[] = "Bobine";
// A method on Contametri, named as the operation.
inline constexpr const char *kZeroMethod = operationName(RoleOperation::AzzeraLunghezza);

// One variable as served: its object and its row.
struct NodeSpec {
    QString object; // "Bilancia", ..., "Bobine"
    const PublishedValue *row = nullptr;
    Role role = Role::Bilancia; // for a role's variable

    QString nodeId() const { return object + QLatin1Char('.') + QLatin1String(row->name); }
};

// What the line has configured, for the nodes to serve.
struct ServedLine {
    bool configured[kRoleCount] = {}; // a role with a brand
    bool serves[kRoleOperationCount] = {}; // the role's model has a driver for the operation
    bool tracking = false; // MisuraMedia: the sampler runs
};

// The variables of the configured roles and of Bobine, in table order.
QList<NodeSpec> servedNodes(const ServedLine &line);

// The OPC UA name of a row's type.
const char *typeName(PublishedType type);

// docs/opcua.md.
QString opcuaPage();

} // namespace quorvex::opcua
