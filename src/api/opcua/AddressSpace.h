#pragma once
// The OPC UA face's address space as one table: every variable it can serve,
// its object, type, where its value comes from and what it means. The face
// builds the nodes of the configured roles from it, and docs/opcua.md is
// printed from it.
//
// Objects/Linea/<Role>/<Role>.<Variable> for each configured role,
// Objects/Linea/Bobine/Bobine.<Variable> for the last coil record, all in the
// namespace urn:velkaro:quorvex with string NodeIds.
#include "drivers/Roles.h"

#include <QList>
#include <QString>
#include <span>

namespace quorvex::opcua {

inline constexpr char kNamespaceUri[] = "urn:velkaro:quorvex";
inline constexpr char kLineObject[] = "Linea";
inline constexpr char kCoilObject[] = "Bobine";
inline constexpr char kZeroMethod[] = "AzzeraLunghezza"; // on Contametri

enum class NodeType { Double, String, UInt64, Int64, UInt32, DateTime };

enum class Source {
    Reading, // a role's reading by operation, scaled
    HeightAtObservationPoint, // the sampler's height at the observation point
    Health, // a field of the role's health
    Coil, // a field of the last coil record
};

enum class HealthField { Stato, Modello, Porta, UltimoErrore, Letture, LettureFallite };
enum class CoilField { Id, Lunghezza, AltezzaMedia, Peso, Chiusura, Conteggio };

struct NodeRow {
    const char *object; // a role's name, kCoilObject, or nullptr: every configured role
    const char *name; // the browse name, after "<object>." in the NodeId
    NodeType type;
    Source source;
    int field; // RoleOperation, HealthField or CoilField, by source
    const char *meaning;

    RoleOperation operation() const { return RoleOperation(field); }
};

std::span<const NodeRow> nodeRows();

// One variable as served: its object and its row.
struct NodeSpec {
    QString object; // "Bilancia", ..., "Bobine"
    const NodeRow *row = nullptr;
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

const char *typeName(NodeType type);

// docs/opcua.md.
QString opcuaPage();

} // namespace quorvex::opcua
