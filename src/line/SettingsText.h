#pragma once
// The settings file's text: INI groups of key=value lines, read and
// written so that the file stays the integrator's. Reading gives every
// value as the text that was typed (an unquoted "9600,N,8,1" included);
// writing changes only the lines of keys whose value changed, adds new keys
// at the end of their group and new groups at the end of the file, and
// keeps comments, blank lines, order and quoting of every other line.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>
#include <optional>

namespace quorvex {

// "group/key" (a key before any group or under [General]: "key") to text.
using SettingsValues = QMap<QString, QVariant>;

// The values of text, or why it is no settings text (binary, not UTF-8).
std::optional<SettingsValues> parseSettingsText(const QByteArray &text, QString *why = nullptr);

// original with its values changed to wanted: keys of original that wanted
// lacks are removed, the others rewritten only where their value differs.
QByteArray mergeSettingsText(const QByteArray &original, const SettingsValues &wanted);

} // namespace quorvex
