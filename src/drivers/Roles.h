#pragma once
// The roles of a line and the generic operations each serves, in one table:
// the configuration load, the instrument definitions, the probe, the plant
// feed, the sampler window and the settings dialog all read it.
#include "drivers/InstrumentModel.h"

#include <QString>
#include <QStringView>
#include <optional>
#include <string_view>

namespace quorvex {

// The four roles, in load order; the roles that take a reading come first.
enum class Role { Bilancia, Contametri, Altezza, Servizio };
inline constexpr int kRoleCount = 4;

// The generic operations that reach a role's instrument.
enum class RoleOperation { LeggiPeso, LeggiTara, LeggiLunghezza, AzzeraLunghezza, LeggiAltezza, ScriviServizio };
inline constexpr int kRoleOperationCount = 6;

struct RoleRow {
    const char *key; // the role's key among the devices: "BIL"
    const char *group; // its settings group, and its name in messages and topics: "Bilancia"
};

// Indexed by Role.
inline constexpr RoleRow kRoles[kRoleCount] = {
    {"BIL", "Bilancia"}, {"CTM", "Contametri"}, {"ALT", "Altezza"}, {"SERV", "Servizio"}};

struct RoleOperationRow {
    const char *name; // as the interface and the instrument table spell it
    Role role; // the role whose instrument serves it
    bool reading; // the role's reading: what a probe tries and the feed sends
    bool definable; // a definition file may describe it
    bool actsOnInstrument; // changes the instrument's state (a zeroing)
};

// Indexed by RoleOperation.
inline constexpr RoleOperationRow kRoleOperations[kRoleOperationCount] = {
    {"LeggiPeso", Role::Bilancia, true, true, false},        {"LeggiTara", Role::Bilancia, false, true, false},
    {"LeggiLunghezza", Role::Contametri, true, true, false}, {"AzzeraLunghezza", Role::Contametri, false, true, true},
    {"LeggiAltezza", Role::Altezza, true, true, false},      {"ScriviServizio", Role::Servizio, false, false, false},
};

constexpr const RoleOperationRow &rowOf(RoleOperation op)
{
    return kRoleOperations[size_t(op)];
}
constexpr Role roleOf(RoleOperation op)
{
    return rowOf(op).role;
}
constexpr const char *operationName(RoleOperation op)
{
    return rowOf(op).name;
}
constexpr const char *roleGroup(Role role)
{
    return kRoles[size_t(role)].group;
}

// The operation a role's reading is taken by; nullopt for a role without one.
constexpr std::optional<RoleOperation> readingOf(Role role)
{
    for (int op = 0; op < kRoleOperationCount; ++op) {
        if (kRoleOperations[op].role == role && kRoleOperations[op].reading)
            return RoleOperation(op);
    }
    return std::nullopt;
}

// How many roles take a reading: they are the first ones.
constexpr int readingRoleCount()
{
    int n = 0;
    while (n < kRoleCount && readingOf(Role(n)))
        ++n;
    return n;
}
inline constexpr int kReadingRoleCount = readingRoleCount();

// The operation of that name (as spelt, case included); nullopt for any other.
inline std::optional<RoleOperation> roleOperationNamed(std::string_view name)
{
    for (int op = 0; op < kRoleOperationCount; ++op) {
        if (name == kRoleOperations[op].name)
            return RoleOperation(op);
    }
    return std::nullopt;
}
inline std::optional<RoleOperation> roleOperationNamed(QStringView name)
{
    return roleOperationNamed(std::string_view(name.toLatin1().constData()));
}

// The role of that settings group; nullopt for any other.
inline std::optional<Role> roleOfGroup(const QString &group)
{
    for (int role = 0; role < kRoleCount; ++role) {
        if (group == QLatin1String(kRoles[role].group))
            return Role(role);
    }
    return std::nullopt;
}

// The reading operation of a reading role ("Bilancia" -> "LeggiPeso",
// "Contametri", "Altezza"); empty for any other.
inline QString readingOperationOf(const QString &role)
{
    const std::optional<Role> found = roleOfGroup(role);
    const std::optional<RoleOperation> reading = found ? readingOf(*found) : std::nullopt;
    return reading ? QLatin1String(operationName(*reading)) : QString();
}

// Whether one of the model's recipes is an operation the role serves.
inline bool modelServes(const InstrumentModel &model, Role role)
{
    for (const Recipe *recipe : model.operations) {
        const std::optional<RoleOperation> op = roleOperationNamed(std::string_view(recipe->operation));
        if (op && roleOf(*op) == role)
            return true;
    }
    return false;
}

} // namespace quorvex
