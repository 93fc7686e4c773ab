#include "feed/FeedSettings.h"

#include "common/Logging.h"
#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"

#include <QLocale>
#include <QSysInfo>

namespace quorvex {

namespace {

using namespace settings;

std::optional<QString> stored(const SettingsStore &store, const char *key)
{
    return store.value(QLatin1String(Impianto), QLatin1String(key));
}

// A whole number within [low, high]; the schema's default, with a warning
// for any other text that is there.
int boundedNumber(const SettingsStore &store, const char *key, int low, int high)
{
    const int fallback = settingRow(Impianto, key).loadDefaultText().toInt();
    const std::optional<QString> text = stored(store, key);
    if (!text || text->trimmed().isEmpty())
        return fallback;
    bool ok = false;
    int value = QLocale().toInt(text->trimmed(), &ok);
    if (!ok)
        value = QLocale::c().toInt(text->trimmed(), &ok);
    if (ok && value >= low && value <= high)
        return value;
    qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2=%3 is not a whole number from %4 to %5: %6 is "
                                                    "used instead")
                                         .arg(QLatin1String(Impianto), QLatin1String(key), quotedForLog(*text)).arg(low).arg(high).arg(fallback);
    return fallback;
}

QString text(const SettingsStore &store, const char *key)
{
    return stored(store, key).value_or(settingRow(Impianto, key).loadDefaultText()).trimmed();
}

// A topic level may not hold "/" (it would add levels) nor the wildcards.
QString topicLevel(const QString &name)
{
    QString level = name;
    for (QChar c : {QLatin1Char('/'), QLatin1Char('+'), QLatin1Char('#')})
        level.replace(c, QLatin1Char('_'));
    if (level != name)
        qCWarning(lcConfig).noquote()
            << QStringLiteral("[%1] %2=%3 holds characters a topic level cannot: %4 is used")
                   .arg(QLatin1String(Impianto), QLatin1String(Linea), quotedForLog(name), quotedForLog(level));
    return level;
}

} // namespace

FeedSettings readFeedSettings(const SettingsStore &store)
{
    FeedSettings s;
    s.server = text(store, Server);
    s.port = boundedNumber(store, Porta, 1, 65535);
    const QString line = text(store, Linea);
    s.line = topicLevel(line.isEmpty() ? QSysInfo::machineHostName() : line);
    if (s.line.isEmpty())
        s.line = QStringLiteral("linea");
    s.user = text(store, Utente);
    s.passwordFile = text(store, FilePassword);
    s.caFile = text(store, FileCA);
    // The library takes 5 s at least; a long interval still sees a dead
    // link within its keep-alive.
    s.keepaliveSeconds = boundedNumber(store, Keepalive, 5, 65535);
    if (s.enabled())
        qCInfo(lcConfig).noquote() << QStringLiteral("%1: broker %2:%3%4, topics %5")
                                          .arg(QLatin1String(Impianto), s.server)
                                          .arg(s.port)
                                          .arg(s.caFile.isEmpty() ? QString() : QStringLiteral(" (TLS)"), s.topicPrefix());
    return s;
}

} // namespace quorvex
