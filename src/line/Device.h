#pragma once
// One configured instrument role, bound at configuration load to its port
// and to the table rows of the operations it serves.
#include "drivers/InstrumentModel.h"
#include "line/SettingsSchema.h"
#include "serial/PortControl.h"

#include <QString>
#include <array>

namespace quorvex {

// The four roles, in load order.
enum class Role { Bilancia, Contametri, Altezza, Servizio };
inline constexpr int kRoleCount = 4;

// The generic operations that reach a role's instrument.
enum class RoleOperation { LeggiPeso, LeggiTara, LeggiLunghezza, AzzeraLunghezza, LeggiAltezza, ScriviServizio };
inline constexpr int kRoleOperationCount = 6;

// The role whose instrument serves each operation, indexed by RoleOperation.
inline constexpr Role kOperationRoles[kRoleOperationCount] = {Role::Bilancia,   Role::Bilancia, Role::Contametri,
                                                              Role::Contametri, Role::Altezza,  Role::Servizio};
constexpr Role roleOf(RoleOperation op) { return kOperationRoles[size_t(op)]; }

struct Device {
    QString Marca;
    QString Modello;
    double Divisore = 0;
    qint16 Porta = 0;
    QString Impostazioni;
    PortRef port;
    // The instrument row of each operation for this brand and model; null
    // when the table has none.
    std::array<const InstrumentModel *, kRoleOperationCount> drivers{};
    // Why every reading of the role is wrong although the instrument may
    // answer: a stored Divisore that is not a number. Empty when it is one.
    QString divisoreProblem;
    // For a brand and model without drivers: the nearest known models and
    // any definition file of that name that was refused, and why.
    QString noDriverHint;

    const InstrumentModel *driver(RoleOperation op) const { return drivers[size_t(op)]; }
};

// Role keys of Dispositivi and their settings groups, indexed by Role.
struct RoleNames {
    const char *key;
    const char *group;
};
inline constexpr RoleNames kRoles[kRoleCount] = {
    {"BIL", settings::Bilancia}, {"CTM", settings::Contametri}, {"ALT", settings::Altezza}, {"SERV", settings::Servizio}};

// Operation names as the instrument table spells them, indexed by RoleOperation.
inline constexpr const char *kRoleOperationNames[kRoleOperationCount] = {
    "LeggiPeso", "LeggiTara", "LeggiLunghezza", "AzzeraLunghezza", "LeggiAltezza", "ScriviServizio"};

using DeviceCollection = std::array<Device, kRoleCount>;

} // namespace quorvex
