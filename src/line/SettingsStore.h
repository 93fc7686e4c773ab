#pragma once
// The per-user settings store: $XDG_CONFIG_HOME/Velkaro s.r.l./Quorvex.ini,
// one INI group per section. Every value is text and comes back exactly as
// it was written, commas included.
#include <QSettings>
#include <QString>
#include <QList>
#include <optional>

namespace quorvex {

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

    // Every key in the store as "group/key".
    QStringList allKeys() const { return m_settings.allKeys(); }

    // The path of the settings file.
    QString fileName() const;

private:
    mutable QSettings m_settings;
};

} // namespace quorvex
