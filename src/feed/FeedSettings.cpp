#include "feed/FeedSettings.h"

#include "common/Logging.h"
#include "line/SettingsStore.h"

#include <QLocale>
#include <QSysInfo>

namespace quorvex {

namespace {

const QString kGroup = QStringLiteral("Impianto");

// A whole number within [low, high]; the fallback, with a warning, for any
// other text that is there.
int boundedNumber(const SettingsStore &store, const QString &key, int low, int high, int fallback)
{
    const std::optional<QString> text = store.value(kGroup, key);
    if (!text || text->trimmed().isEmpty())
        return fallback;
    bool ok = false;
    int value = QLocale().toInt(text->trimmed(), &ok);
    if (!ok)
        value = QLocale::c().toInt(text->trimmed(), &ok);
    if (ok && value >= low && value <= high)
        return value;
    qCWarning(lcConfig).noquote() << QStringLiteral("[Impianto] %1=\"%2\" is not a whole number from %3 to %4: %5 is "
                                                    "used instead")
                                         .arg(key, *text).arg(low).arg(high).arg(fallback);
    return fallback;
}

QString text(const SettingsStore &store, const QString &key)
{
    return store.value(kGroup, key).value_or(QString()).trimmed();
}

// A topic level may not hold "/" (it would add levels) nor the wildcards.
QString topicLevel(const QString &name)
{
    QString level = name;
    for (QChar c : {QLatin1Char('/'), QLatin1Char('+'), QLatin1Char('#')})
        level.replace(c, QLatin1Char('_'));
    if (level != name)
        qCWarning(lcConfig).noquote()
            << QStringLiteral("[Impianto] Linea=\"%1\" holds characters a topic level cannot: \"%2\" is used")
                   .arg(name, level);
    return level;
}

} // namespace

FeedSettings readFeedSettings(const SettingsStore &store)
{
    FeedSettings s;
    s.server = text(store, QStringLiteral("Server"));
    s.port = boundedNumber(store, QStringLiteral("Porta"), 1, 65535, 1883);
    const QString line = text(store, QStringLiteral("Linea"));
    s.line = topicLevel(line.isEmpty() ? QSysInfo::machineHostName() : line);
    if (s.line.isEmpty())
        s.line = QStringLiteral("linea");
    s.user = text(store, QStringLiteral("Utente"));
    s.passwordFile = text(store, QStringLiteral("FilePassword"));
    s.caFile = text(store, QStringLiteral("FileCA"));
    // The library takes 5 s at least; a long interval still sees a dead
    // link within its keep-alive.
    s.keepaliveSeconds = boundedNumber(store, QStringLiteral("Keepalive"), 5, 65535, 60);
    if (s.enabled())
        qCInfo(lcConfig).noquote() << QStringLiteral("Impianto: broker %1:%2%3, topics %4")
                                          .arg(s.server)
                                          .arg(s.port)
                                          .arg(s.caFile.isEmpty() ? QString() : QStringLiteral(" (TLS)"), s.topicPrefix());
    return s;
}

} // namespace quorvex
