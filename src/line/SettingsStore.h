#pragma once
// The per-user settings store: $XDG_CONFIG_HOME/Velkaro s.r.l./Quorvex.ini,
// one INI group per section. Every value is text and comes back exactly as
// it was written, commas included.
#include <QSettings>
#include <QString>
#include <optional>

namespace quorvex {

class SettingsStore {
public:
    SettingsStore();

    // The text under group/key, or nullopt when the key is absent.
    std::optional<QString> value(const QString &group, const QString &key) const;
    void setValue(const QString &group, const QString &key, const QString &text);

private:
    mutable QSettings m_settings;
};

} // namespace quorvex
