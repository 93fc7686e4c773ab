#pragma once
// How each configured role's instrument is doing, as the line has seen it:
// the state of its port and instrument, its last error, its readings since
// the process started, and how long its exchanges take next to the time
// their bytes need on the wire at the line's speed (what is left is the
// instrument's own answer time and the serial adapter's). The D-Bus
// diagnostics and the plant feed tell the same figures under the same names.
#include "line/Device.h"

#include <QList>
#include <QString>
#include <QVariantMap>

namespace quorvex {

enum class HealthState {
    Ok, // the port is open and the instrument answered its last exchange (or none was made yet)
    Silent, // the port is open and the instrument did not answer its last exchange
    Closed, // the port is not open (it could not be opened, or no client holds the line)
    Gone, // the port's device is not there (unplugged)
    Unconfigured // the role has no model the table knows, or no port
};

const char *healthStateName(HealthState state);

struct RoleHealth {
    Role role = Role::Bilancia;
    QString brand;
    QString model;
    int port = 0; // 0: none
    QString device;
    QString settings;
    HealthState state = HealthState::Unconfigured;
    QString lastError;
    quint64 readings = 0; // valid readings since start
    quint64 failedReadings = 0; // readings that gave no valid value since start
    int timedExchanges = 0; // the exchanges the medians are taken over; 0: none yet
    double exchangeMs = 0; // median time from request written to reply complete
    double wireMs = 0; // median time request and reply take on the wire

    QString roleName() const { return QLatin1String(kRoles[size_t(role)].group); }
    // role, brand, model, port, device, settings, state, lastError, readings,
    // failedReadings, timedExchanges, and exchangeMs and wireMs once an
    // exchange has been timed.
    QVariantMap toMap() const;
    bool operator==(const RoleHealth &) const = default;
};

// Whether any role's state differs, or a role came or went.
bool healthStatesDiffer(const QList<RoleHealth> &a, const QList<RoleHealth> &b);

} // namespace quorvex
