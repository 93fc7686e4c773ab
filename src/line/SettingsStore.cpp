#include "line/SettingsStore.h"

#include <QFileInfo>
#include <QSaveFile>
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

namespace quorvex {

namespace {

// Why the settings file cannot be replaced: a read-only file, or a folder in
// which no new file can be made (read-only, missing, not a folder, full).
QString whyNotWritable(const QString &fileName)
{
    const QFileInfo file(fileName);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("il file è di sola lettura");
    QSaveFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly))
        return probe.errorString();
    probe.cancelWriting();
    return QStringLiteral("il file non può essere sostituito");
}

} // namespace

bool SettingsStore::write(const QList<Change> &changes, QString *why)
{
    // What each key held before, so a failed write can be taken back.
    QList<std::optional<QVariant>> before;
    before.reserve(changes.size());
    for (const Change &c : changes) {
        const QString path = c.group + QLatin1Char('/') + c.key;
        before.append(m_settings.contains(path) ? std::optional<QVariant>(m_settings.value(path)) : std::nullopt);
        if (c.text)
            m_settings.setValue(path, *c.text);
        else
            m_settings.remove(path);
    }
    m_settings.sync();
    if (m_settings.status() != QSettings::AccessError)
        return true;

    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const QString path = changes[i].group + QLatin1Char('/') + changes[i].key;
        if (before[i])
            m_settings.setValue(path, *before[i]);
        else
            m_settings.remove(path);
    }
    if (why)
        *why = whyNotWritable(m_settings.fileName());
    return false;
}

QString SettingsStore::fileName() const
{
    return m_settings.fileName();
}

} // namespace quorvex
