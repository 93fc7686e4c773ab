#include "line/SettingsStore.h"

#include "common/AppFolders.h"
#include "common/Logging.h"
#include "common/NamedFile.h"
#include "line/SettingsText.h"

#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QStringList>

namespace quorvex {

namespace {

// Far more than any settings file; a larger one is not the integrator's.
constexpr qint64 kLargestSettingsFile = 1024 * 1024;

bool readSettings(QIODevice &device, QSettings::SettingsMap &map)
{
    const std::optional<SettingsValues> values = parseSettingsText(device.read(kLargestSettingsFile + 1));
    if (!values)
        return false;
    map = *values;
    return true;
}

// Only the final values come here: the file's text, read again now, keeps
// everything else.
bool writeSettings(QIODevice &device, const QSettings::SettingsMap &map)
{
    const auto *file = qobject_cast<QFileDevice *>(&device);
    if (!file)
        return false;
    const NamedFile original = readNamedFile(file->fileName(), kLargestSettingsFile);
    // A file that is no longer settings text is left as it is.
    if (original.status == NamedFile::Status::Refused
        || (original.status == NamedFile::Status::Read && !parseSettingsText(original.bytes)))
        return false;
    const QByteArray text = mergeSettingsText(original.bytes, map);
    return device.write(text) == text.size();
}

// Where Qt keeps this user's settings (QSettings::setPath included), asked
// of a file that never exists, so nothing is read.
QString settingsFilePath()
{
    const QSettings probe(settingsFormat(), QSettings::UserScope, QStringLiteral(".quorvex-settings-folder"));
    return QFileInfo(probe.fileName()).absolutePath() + QLatin1Char('/') + QLatin1String(kOrganization)
        + QLatin1Char('/') + QLatin1String(kApplication) + QStringLiteral(".ini");
}

// Whether the file may be read; a change of state is logged once.
QString checkSettingsFile(const QString &path, bool *missing)
{
    const NamedFile file = readNamedFile(path, kLargestSettingsFile);
    QString problem = file.problem;
    *missing = file.status == NamedFile::Status::Missing;
    if (file.status == NamedFile::Status::Read)
        parseSettingsText(file.bytes, &problem);

    static QMutex mutex;
    static QString lastReport;
    const QString report = problem.isEmpty() ? QString() : path + problem;
    const QMutexLocker lock(&mutex);
    if (report == lastReport)
        return *missing ? QString() : problem;
    if (*missing)
        qCWarning(lcConfig).noquote()
            << QStringLiteral("settings file %1 does not exist: every setting has its default").arg(path);
    else if (!problem.isEmpty())
        qCWarning(lcConfig).noquote()
            << QStringLiteral("settings file %1 is not read: %2; every setting has its default").arg(path, problem);
    else
        qCInfo(lcConfig).noquote() << QStringLiteral("settings file %1 is read again").arg(path);
    lastReport = report;
    return *missing ? QString() : problem;
}

} // namespace

QSettings::Format settingsFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readSettings, writeSettings, Qt::CaseSensitive);
    return format;
}

QString SettingsStore::path()
{
    return settingsFilePath();
}

SettingsStore::SettingsStore() : m_fileName(settingsFilePath())
{
    bool missing = false;
    m_unusable = checkSettingsFile(m_fileName, &missing);
    if (m_unusable.isEmpty())
        m_settings.emplace(settingsFormat(), QSettings::UserScope, QLatin1String(kOrganization),
                           QLatin1String(kApplication));
}

std::optional<QString> SettingsStore::value(const QString &group, const QString &key) const
{
    return storedText(group + QLatin1Char('/') + key);
}

std::optional<QString> SettingsStore::storedText(const QString &path) const
{
    if (!m_settings || !m_settings->contains(path))
        return std::nullopt;
    const QVariant v = m_settings->value(path);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

SettingsSnapshot SettingsStore::snapshot() const
{
    SettingsSnapshot snapshot;
    snapshot.m_fileName = m_fileName;
    snapshot.m_keys = allKeys();
    for (const QString &path : std::as_const(snapshot.m_keys)) {
        if (const std::optional<QString> text = storedText(path))
            snapshot.m_values.insert(path, *text);
    }
    return snapshot;
}

std::optional<QString> SettingsSnapshot::value(const QString &group, const QString &key) const
{
    const auto found = m_values.constFind(group + QLatin1Char('/') + key);
    if (found == m_values.cend())
        return std::nullopt;
    return *found;
}

void SettingsStore::setValue(const QString &group, const QString &key, const QString &text)
{
    write({{group, key, text}});
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
    if (!m_settings) {
        if (why)
            *why = m_unusable;
        return false;
    }
    QSettings &settings = *m_settings;
    // What each key held before, so a failed write can be taken back.
    QList<std::optional<QVariant>> before;
    before.reserve(changes.size());
    for (const Change &c : changes) {
        const QString path = c.group + QLatin1Char('/') + c.key;
        before.append(settings.contains(path) ? std::optional<QVariant>(settings.value(path)) : std::nullopt);
        if (c.text)
            settings.setValue(path, *c.text);
        else
            settings.remove(path);
    }
    settings.sync();
    if (settings.status() != QSettings::AccessError)
        return true;

    for (qsizetype i = changes.size() - 1; i >= 0; --i) {
        const QString path = changes[i].group + QLatin1Char('/') + changes[i].key;
        if (before[i])
            settings.setValue(path, *before[i]);
        else
            settings.remove(path);
    }
    if (why)
        *why = whyNotWritable(settings.fileName());
    return false;
}

} // namespace quorvex
