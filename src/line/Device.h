#pragma once
// One configured instrument role, and the port object type drivers use.
#include "serial/PortControl.h"

#include <QHash>
#include <QString>
#include <memory>

namespace quorvex {

struct Device {
    QString Marca;
    QString Modello;
    double Divisore = 0;
    qint16 Porta = 0;
    QString Impostazioni;
    PortRef MSC;
};

// Role keys of Dispositivi, in load order, with their settings groups.
struct Role {
    const char *key;
    const char *group;
};
inline constexpr Role kRoles[] = {
    {"BIL", "Bilancia"}, {"CTM", "Contametri"}, {"ALT", "Altezza"}, {"SERV", "Servizio"}};

using DeviceCollection = QHash<QString, Device>;

} // namespace quorvex
