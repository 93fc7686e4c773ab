#pragma once
// The one schema of the settings file: every group and key, the kind of value
// it holds, the loader's default and, for the keys the settings dialog
// shows, its tab, caption and control. The loader, the dialog (its role tabs
// and its ports tab), the sampler window and the window placement take their
// names and defaults from here: a new settings group is one block of rows.
#include "drivers/Roles.h"

#include <QString>
#include <vector>

namespace quorvex {

// Group and key names, as the file spells them.
namespace settings {
// A role's group is named after the role.
inline constexpr const char *Bilancia = roleGroup(Role::Bilancia);
inline constexpr const char *Contametri = roleGroup(Role::Contametri);
inline constexpr const char *Altezza = roleGroup(Role::Altezza);
inline constexpr const char *Servizio = roleGroup(Role::Servizio);
inline constexpr char Porte[] = "Porte"; // keyed by port number, the value a device path
inline constexpr char FormSamples[] = "FormSamples";
inline constexpr char Storico[] = "Storico"; // the coil records
inline constexpr char Impianto[] = "Impianto"; // the plant feed's MQTT broker
inline constexpr char ModbusTCP[] = "ModbusTCP"; // the Modbus TCP face for the plant's PLC and SCADA
inline constexpr char OPCUA[] = "OPCUA"; // the OPC UA face for the plant's MES and SCADA

inline constexpr char Marca[] = "Marca";
inline constexpr char Modello[] = "Modello";
inline constexpr char Divisore[] = "Divisore";
inline constexpr char Porta[] = "Porta";
inline constexpr char Settaggio[] = "Settaggio";
inline constexpr char MisuraMedia[] = "MisuraMedia";
inline constexpr char IntervalloDiCampionamento[] = "IntervalloDiCampionamento";
inline constexpr char DistanzaSensoreArrotolatore[] = "DistanzaSensoreArrotolatore";
inline constexpr char DistanzaOperatoreArrotolatore[] = "DistanzaOperatoreArrotolatore";
inline constexpr char Server[] = "Server";
inline constexpr char Linea[] = "Linea";
inline constexpr char Utente[] = "Utente";
inline constexpr char FilePassword[] = "FilePassword";
inline constexpr char FileCA[] = "FileCA";
inline constexpr char Keepalive[] = "Keepalive";
inline constexpr char Sparkplug[] = "Sparkplug"; // 1: a Sparkplug B edge node beside the JSON topics
inline constexpr char Gruppo[] = "Gruppo"; // its group id
inline constexpr char HostPrimario[] = "HostPrimario"; // the primary host application it waits for
inline constexpr char Indirizzo[] = "Indirizzo";
inline constexpr char Unita[] = "Unita";
inline constexpr char Client[] = "Client";
inline constexpr char Intervallo[] = "Intervallo";
inline constexpr char Scrittura[] = "Scrittura";
inline constexpr char MaxClient[] = "MaxClient"; // connections the face holds at one time
inline constexpr char Inattivo[] = "Inattivo"; // seconds without a request before a connection is closed; 0: never
inline constexpr char Sicurezza[] = "Sicurezza";
// A window's placement, under the group named after the window.
inline constexpr char Width[] = "Width";
inline constexpr char Height[] = "Height";
inline constexpr char Left[] = "Left";
inline constexpr char Top[] = "Top";
inline constexpr char WindowState[] = "WindowState";
inline constexpr char Giorni[] = "Giorni"; // days of coil records kept; 0: all
} // namespace settings

enum class SettingKind {
    Text, // any text: brand, model, a device path
    PortNumber, // a whole number naming a port
    WholeNumber, // any other whole number
    Multiplier, // a decimal number every reading is multiplied by
    Decimal, // any other decimal number of the user's format
    LineSettings, // "9600,N,8,1"
    Boolean, // a number (true when not 0) or true/false; the dialog writes "0" or "1"
    Twips, // a window dimension
    Fixed, // not shown by the dialog; always written as its default
};

// Where the settings dialog shows a key.
struct DialogField {
    const char *tab; // the tab's caption; tabs come in the order of their first row
    const char *caption; // label or check box caption, "&" before the access key
    const char *objectName; // the control's name
    int label = -1; // index in the dialog's label array, -1 for none
    const char *placeholder = nullptr; // what the empty field says, if anything
};

struct SettingRow {
    const char *group;
    const char *key; // nullptr: the group's keys are not fixed ([Porte])
    SettingKind kind;
    const char *loadDefault; // the loader's value for an absent key (numbers in C form); nullptr: none
    const char *shownDefault; // what the dialog offers for an absent key, where it differs; nullptr: the same
    DialogField field = {}; // field.tab nullptr: the dialog does not show the key

    bool inDialog() const { return field.tab || kind == SettingKind::Fixed; }
    // The defaults as text, decimals in the user's number format, as the
    // dialog would store them; the null text when there is none.
    QString loadDefaultText() const;
    QString shownDefaultText() const;
};

// Every row, groups in file order, keys in the order they are written.
const std::vector<SettingRow> &settingsSchema();
// The row of group/key; the schema must have it.
const SettingRow &settingRow(const char *group, const char *key);
// Every group of the schema, in order.
QStringList settingsGroups();

} // namespace quorvex
