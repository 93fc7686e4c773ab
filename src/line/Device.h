#pragma once
// One configured instrument role, bound at configuration load to its port
// and to the table rows of the operations it serves.
#include "drivers/InstrumentDefinitions.h"
#include "drivers/InstrumentModel.h"
#include "drivers/Roles.h"
#include "line/SettingsSchema.h"
#include "serial/PortControl.h"

#include <QString>
#include <array>

namespace quorvex {

struct Device {
    QString Marca;
    QString Modello;
    double Divisore = 0;
    qint16 Porta = 0;
    QString Impostazioni;
    PortRef port;
    // The recipe of each operation for this brand and model; null
    // when the table has none.
    std::array<const Recipe *, kRoleOperationCount> drivers{};
    // The definitions of the load that bound them: a copy of the record a
    // reading takes keeps its recipes valid across a reload.
    DefinitionsRef definitions;
    // Why every reading of the role is wrong although the instrument may
    // answer: a stored Divisore that is not a number. Empty when it is one.
    QString divisorProblem;
    // For a brand and model without drivers: the nearest known models and
    // any definition file of that name that was refused, and why.
    QString noDriverHint;

    const Recipe *driver(RoleOperation op) const { return drivers[size_t(op)]; }
};

using DeviceCollection = std::array<Device, kRoleCount>;

} // namespace quorvex
