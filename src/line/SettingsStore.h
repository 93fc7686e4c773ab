#pragma once
// The per-user settings store: $XDG_CONFIG_HOME/Velkaro s.r.l./Quorvex.ini,
// one INI group per section. Every value is text and comes back exactly as
// it was written, commas included. Writing keeps the file the integrator's
// (line/SettingsText): only the lines of changed keys change.
//
// A file that is missing is a warning naming it; one that is not a regular
// file (a FIFO, a folder), too large or not text is a warning with the
// reason and is neither read (so nothing blocks) nor written: every setting
// then has its default. Each such state is told once, its end in one line.
#include <QHash>
#include <QList>
#include <QSettings>
#include <QString>
#include <optional>

namespace quorvex {

// The settings file's format, registered with QSettings once.
QSettings::Format settingsFormat();

// What one configuration load reads: every key's text as the file held it
// at one moment, so the line, the plant feed, the Modbus face and the
// history read the same file, and a key changed later waits for the next
// load. Empty (every setting has its default) until a load takes one.
class SettingsSnapshot {
public:
    // The text under group/key, or nullopt when the key is absent.
    std::optional<QString> value(const QString &group, const QString &key) const;
    // Every key as "group/key", in the store's order.
    QStringList allKeys() const { return m_keys; }
    // The path of the settings file it was read from.
    QString fileName() const { return m_fileName; }

private:
    friend class SettingsStore;
    QString m_fileName;
    QStringList m_keys;
    QHash<QString, QString> m_values; // "group/key" -> text
};

class SettingsStore {
public:
    SettingsStore();

    // The text under group/key, or nullopt when the key is absent.
    std::optional<QString> value(const QString &group, const QString &key) const;
    void setValue(const QString &group, const QString &key, const QString &text);

    // One write of a batch: the text to store, or nullopt to remove the key.
    struct Change {
        QString group;
        QString key;
        std::optional<QString> text;
    };
    // Writes every change with one replacement of the file, so the file
    // holds all of them or none. On failure the changes are also taken back
    // from memory (other readers in this process keep seeing the file as it
    // is), false is returned and *why tells the reason.
    bool write(const QList<Change> &changes, QString *why = nullptr);

    // Every key's text as stored now.
    SettingsSnapshot snapshot() const;

    // Every key in the store as "group/key".
    QStringList allKeys() const { return m_settings ? m_settings->allKeys() : QStringList(); }

    // The path of the settings file.
    QString fileName() const { return m_fileName; }
    // The same without opening the store: nothing is read or checked.
    static QString path();

private:
    std::optional<QString> storedText(const QString &path) const;

    QString m_fileName;
    QString m_unusable; // why the file is neither read nor written
    mutable std::optional<QSettings> m_settings;
};

} // namespace quorvex
