#include "line/SettingsStore.h"

#include <QStringList>

namespace quorvex {

SettingsStore::SettingsStore()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Velkaro s.r.l."),
                 QStringLiteral("Quorvex"))
{
}

std::optional<QString> SettingsStore::value(const QString &group, const QString &key) const
{
    const QString path = group + QLatin1Char('/') + key;
    if (!m_settings.contains(path))
        return std::nullopt;
    const QVariant v = m_settings.value(path);
    // An unquoted value with commas ("9600,N,8,1" typed by hand) reads as a
    // list; join it back into the text that was typed.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void SettingsStore::setValue(const QString &group, const QString &key, const QString &text)
{
    m_settings.setValue(group + QLatin1Char('/') + key, text);
    m_settings.sync();
}

} // namespace quorvex
