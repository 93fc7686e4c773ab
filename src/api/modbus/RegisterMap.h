#pragma once
// The Modbus TCP face's register map: the one table of what each address
// holds. The face builds its register image from it and the documentation
// page is generated from it. The same map serves the input registers
// (function 4) and the holding registers (function 3); 32-bit values are
// sent high word first.
#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>

namespace quorvex::modbus {

enum class WireType { Float32, Uint16, Uint32 };

// What a field of the image holds; indexes ImageValues.
enum class Field {
    Peso,
    Tara,
    Lunghezza,
    Altezza,
    AltezzaAlPuntoDiOsservazione,
    StatoBilancia,
    StatoContametri,
    StatoAltezza,
    EtaBilancia,
    EtaContametri,
    EtaAltezza,
    BobineRegistrate,
    UltimaLunghezza,
    UltimaAltezzaMedia,
};
inline constexpr int kFieldCount = 14;

struct RegisterField {
    quint16 address;
    WireType type;
    Field field;
    const char *name; // as the page names it
    const char *meaning; // one line for the page
};

// Fields in address order, without gaps.
extern const RegisterField kRegisterMap[kFieldCount];

// Registers the map covers, from address 0.
int registerCount();
// Words a value of type takes.
int wordCount(WireType type);

// The state word of a role.
enum StateBit : quint16 {
    ReadingValid = 1 << 0, // the last reading gave a value
    PortOpen = 1 << 1, // the role's port is open
    ReadingStale = 1 << 2, // the last valid reading is older than 5 x Intervallo (5 s without one)
};

// One value per field, as the face last knew it.
using ImageValues = std::array<double, kFieldCount>;

// The registers of the whole map, from address 0. A float is IEEE 754
// single precision; whole numbers are clamped to their type's range.
QList<quint16> encodeImage(const ImageValues &values);

// The documentation page of the map (Markdown).
QString registerMapPage();

} // namespace quorvex::modbus
