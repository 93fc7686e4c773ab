#pragma once
// What the line publishes, in one table: one row per value (a role's reading
// by operation, a role's health field, a field of the last coil record, the
// tracking's value), with where it comes from, its type and its name on each
// face: the Modbus TCP register map, the Sparkplug B metrics, the JSON feed,
// the D-Bus dictionaries and the OPC UA address space. The faces, the D-Bus
// interfaces and the client read it; none lists these values itself. A face
// that leaves a row out says so here, with its column empty.
//
// Header only, so the client reads the D-Bus keys without linking the line.
#include "drivers/Roles.h"
#include "line/SettingsSchema.h"

#include <QVariant>
#include <optional>
#include <string_view>

namespace quorvex {

// Where a value comes from.
enum class ValueSource {
    Reading, // a role's instrument, by operation, scaled
    Health, // a role's health (one value per configured role)
    Coil, // the last coil record
    Tracking, // the height tracking
};

enum class PublishedType { Double, String, UInt16, UInt32, UInt64, Int32, Int64, DateTime, Profile };
// The columns of a Profile value where a face names them: each sample's
// length and height.
inline constexpr const char *kProfileColumns[] = {"Lunghezza", "Altezza"};

// How a value sits in the Modbus register map.
enum class ModbusType { None, Float32, Uint16, Uint32 };

// Indexes kPublished.
enum class Value {
    // Readings
    LeggiPeso,
    LeggiTara,
    LeggiLunghezza,
    AzzeraLunghezza,
    LeggiAltezza,
    // Tracking
    AltezzaAlPuntoDiOsservazione,
    // Health, per role
    Ruolo,
    Marca,
    Modello,
    Porta,
    Dispositivo,
    Impostazioni,
    Stato,
    UltimoErrore,
    Letture,
    LettureFallite,
    ScambiCronometrati,
    TempoScambio,
    TempoSuLinea,
    StatoLettura,
    EtaLettura,
    // The last coil record
    Id,
    Chiusura,
    ChiusuraUs,
    Lunghezza,
    AltezzaMedia,
    Campioni,
    Peso,
    PesoLetto,
    Profilo,
    Conteggio,
};
inline constexpr int kValueCount = int(Value::Conteggio) + 1;

struct ModbusCell {
    int address = -1; // the first register; -1: not in the map. A health
        // value takes one cell per reading role, in role order.
    ModbusType type = ModbusType::None;
};

struct PublishedValue {
    Value value;
    const char *name; // its own name: the OPC UA browse name, and the Sparkplug metric's unless given
    ValueSource source;
    Role role; // the role it belongs to (readings and tracking); Bilancia for others
    std::optional<RoleOperation> operation; // the reading's operation
    PublishedType type;
    ModbusCell modbus;
    const char *modbusName; // as the register page names it
    const char *sparkplug; // metric name; null: not sent
    const char *json; // key in the JSON feed's payloads; null: not sent
    const char *dbus; // key in the D-Bus dictionaries; null: not there
    bool opcua; // in the OPC UA address space
    const char *meaning; // one line for the documentation pages
};

// clang-format off
inline constexpr PublishedValue kPublished[kValueCount] = {
    // value, name, source, role, operation, type, modbus, modbus name, sparkplug, json, dbus, opcua, meaning
    {Value::LeggiPeso, "LeggiPeso", ValueSource::Reading, Role::Bilancia, RoleOperation::LeggiPeso, PublishedType::Double,
     {0, ModbusType::Float32}, "LeggiPeso", "LeggiPeso", "LeggiPeso", nullptr, true,
     "the weight, scaled by the scale's Divisore"},
    {Value::LeggiTara, "LeggiTara", ValueSource::Reading, Role::Bilancia, RoleOperation::LeggiTara, PublishedType::Double,
     {2, ModbusType::Float32}, "LeggiTara", "LeggiTara", "LeggiTara", nullptr, true,
     "the tare, scaled by the scale's Divisore"},
    {Value::LeggiLunghezza, "LeggiLunghezza", ValueSource::Reading, Role::Contametri, RoleOperation::LeggiLunghezza, PublishedType::Double,
     {4, ModbusType::Float32}, "LeggiLunghezza", "LeggiLunghezza", "LeggiLunghezza", nullptr, true,
     "the counted length, scaled by the counter's Divisore"},
    // The zeroing's reply is an event, not a value a register or a metric
    // could hold: only the JSON feed, which sends every reply, tells it.
    {Value::AzzeraLunghezza, "AzzeraLunghezza", ValueSource::Reading, Role::Contametri, RoleOperation::AzzeraLunghezza, PublishedType::Double,
     {}, nullptr, nullptr, "AzzeraLunghezza", nullptr, false,
     "the counter's reply to a zeroing"},
    {Value::LeggiAltezza, "LeggiAltezza", ValueSource::Reading, Role::Altezza, RoleOperation::LeggiAltezza, PublishedType::Double,
     {6, ModbusType::Float32}, "LeggiAltezza", "LeggiAltezza", "LeggiAltezza", nullptr, true,
     "the height sensor's reading, scaled by its Divisore"},

    {Value::AltezzaAlPuntoDiOsservazione, "LeggiAltezzaAlPuntoDiOsservazione", ValueSource::Tracking, Role::Altezza, std::nullopt, PublishedType::Double,
     {8, ModbusType::Float32}, "LeggiAltezzaAlPuntoDiOsservazione", nullptr, nullptr, nullptr, true,
     "the height at the operator's point of observation; 0 when height tracking is off"},

    {Value::Ruolo, "Ruolo", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, nullptr, "role", false, "the role's settings group"},
    {Value::Marca, settings::Marca, ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, "brand", "brand", true, "the instrument's brand"},
    {Value::Modello, settings::Modello, ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, "model", "model", true, "the instrument's model"},
    {Value::Porta, settings::Porta, ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::Int32,
     {}, nullptr, nullptr, "port", "port", true, "the role's port number; 0: none"},
    {Value::Dispositivo, "Dispositivo", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, "device", "device", true, "the port's serial device"},
    {Value::Impostazioni, "Impostazioni", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, "settings", "settings", false, "the port's line settings"},
    {Value::Stato, "Stato", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, "Stato", "state", "state", true, "ok, silent, closed, gone or unconfigured"},
    {Value::UltimoErrore, "UltimoErrore", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::String,
     {}, nullptr, nullptr, "lastError", "lastError", true, "the last error of the instrument or its port"},
    {Value::Letture, "Letture", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::UInt64,
     {}, nullptr, nullptr, "readings", "readings", true, "valid readings since the server started"},
    {Value::LettureFallite, "LettureFallite", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::UInt64,
     {}, nullptr, nullptr, "failedReadings", "failedReadings", true, "readings that gave no valid value since the server started"},
    {Value::ScambiCronometrati, "ScambiCronometrati", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::Int32,
     {}, nullptr, nullptr, "timedExchanges", "timedExchanges", false, "the exchanges the times are the medians of"},
    {Value::TempoScambio, "TempoScambio", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::Double,
     {}, nullptr, nullptr, "exchangeMs", "exchangeMs", false, "median ms from request written to reply complete"},
    {Value::TempoSuLinea, "TempoSuLinea", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::Double,
     {}, nullptr, nullptr, "wireMs", "wireMs", false, "median ms request and reply take on the wire"},
    {Value::StatoLettura, "StatoLettura", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::UInt16,
     {10, ModbusType::Uint16}, "Stato", nullptr, nullptr, nullptr, false, "state of the role's reading (bits below)"},
    {Value::EtaLettura, "EtaLettura", ValueSource::Health, Role::Bilancia, std::nullopt, PublishedType::UInt16,
     {13, ModbusType::Uint16}, "Età", nullptr, nullptr, nullptr, false,
     "age of the role's last valid reading in 100 ms; 65535 at most and without one"},

    {Value::Id, "Id", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Int64,
     {}, nullptr, "Id", "id", "id", true, "the coil record's id"},
    {Value::Chiusura, "Chiusura", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::DateTime,
     {}, nullptr, nullptr, "closed", "closed", true, "when the coil was closed"},
    {Value::ChiusuraUs, "ChiusuraUs", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Int64,
     {}, nullptr, nullptr, "closedUs", nullptr, false, "the same in microseconds since 1970 UTC"},
    {Value::Lunghezza, "Lunghezza", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Double,
     {18, ModbusType::Float32}, "Ultima lunghezza", "Lunghezza", "length", "length", true, "the last coil's length"},
    {Value::AltezzaMedia, "AltezzaMedia", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Double,
     {20, ModbusType::Float32}, "Ultima altezza media", "AltezzaMedia", "averageHeight", "averageHeight", true,
     "the last coil's average height"},
    {Value::Campioni, "Campioni", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::UInt32,
     {}, nullptr, nullptr, "samples", "samples", false, "the height samples the average was taken over"},
    {Value::Peso, "Peso", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Double,
     {}, nullptr, "Peso", "weight", "weight", true, "the last weight read while the coil was wound; none without one"},
    {Value::PesoLetto, "PesoLetto", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::DateTime,
     {}, nullptr, nullptr, "weightRead", "weightRead", false, "when that weight was read"},
    {Value::Profilo, "Profilo", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::Profile,
     {}, nullptr, "Profilo", "profile", nullptr, false, "the coil's (length, height) samples"},
    {Value::Conteggio, "Conteggio", ValueSource::Coil, Role::Bilancia, std::nullopt, PublishedType::UInt32,
     {16, ModbusType::Uint32}, "Bobine registrate", nullptr, nullptr, nullptr, true, "coil records kept"},
};
// clang-format on

constexpr const PublishedValue &published(Value value)
{
    return kPublished[size_t(value)];
}

// The row of a role's reading operation; nullopt for an operation that is
// not published (a service command).
constexpr std::optional<Value> valueOfOperation(RoleOperation op)
{
    for (const PublishedValue &row : kPublished) {
        if (row.operation == op)
            return row.value;
    }
    return std::nullopt;
}

// The D-Bus dictionary key of a value, as server and client spell it.
inline QString dbusKey(Value value)
{
    return QLatin1String(published(value).dbus);
}
inline QString jsonKey(Value value)
{
    return QLatin1String(published(value).json);
}

// Checked at compile time: rows in enum order, and every reading of the
// roles table published.
constexpr bool publishedTableInOrder()
{
    for (int i = 0; i < kValueCount; ++i) {
        if (int(kPublished[i].value) != i)
            return false;
    }
    for (int op = 0; op < kRoleOperationCount; ++op) {
        if (kRoleOperations[op].reading && !valueOfOperation(RoleOperation(op)))
            return false;
    }
    return true;
}
static_assert(publishedTableInOrder(), "kPublished must list every Value in order, and every role reading");

} // namespace quorvex

namespace quorvex {

// The value of a coil row in a coil record (history's CoilRecord; the
// record's type is a parameter, since the line does not see the store).
// A time is microseconds since 1970 UTC; a value the record lacks (no
// weighing) is a null QVariant.
template<class Record> QVariant coilValue(const Record &r, Value value)
{
    const bool weighed = r.weight.has_value();
    switch (value) {
    case Value::Id: return QVariant::fromValue(qint64(r.id));
    case Value::Chiusura:
    case Value::ChiusuraUs: return QVariant::fromValue(qint64(r.closedUs));
    case Value::Lunghezza: return r.length;
    case Value::AltezzaMedia: return r.averageHeight;
    case Value::Campioni: return QVariant::fromValue(quint32(r.samples));
    case Value::Peso: return weighed ? QVariant(*r.weight) : QVariant();
    case Value::PesoLetto: return weighed ? QVariant::fromValue(qint64(r.weightReadUs)) : QVariant();
    case Value::Profilo: return QVariant::fromValue(r.profile);
    default: return {};
    }
}

} // namespace quorvex
