#pragma once
// The fields of the settings window, in the order they are read from the
// store and written back. The same list lays out the tabs.
#include <QList>
#include <QString>

namespace quorvex {

enum class FieldKind {
    Text,         // brand, model: any text is fine
    Port,         // a port number
    Divisor,      // a multiplier of readings
    LineSettings, // "9600,N,8,1"
    Decimal,      // a height-tracking number
    CheckBox,     // stored as "0" or "1"
    Constant,     // not shown; always written as its default
};

struct SettingsField {
    int tab;                // index of the tab that shows the field
    int lbls;               // index in the label array, -1 for none
    const char *caption;    // label or check box caption, "&" before the access key
    const char *objectName; // the control's name
    const char *group;      // settings section
    const char *key;
    FieldKind kind;
    QString defaultText() const; // what is shown when the key is absent
};

// The tab captions, in order.
const QList<QString> &settingsTabCaptions();
// Every field, in reading and writing order.
const QList<SettingsField> &settingsFields();

} // namespace quorvex
