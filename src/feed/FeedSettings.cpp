#include "feed/FeedSettings.h"

#include "common/Logging.h"
#include "line/Conversions.h"
#include "line/SettingsReader.h"

#include <QSysInfo>

namespace quorvex {

namespace {

using namespace settings;

// A whole number within [low, high], else the schema's default, which an
// empty field also stands for.
int boundedNumber(const SettingsSnapshot &store, const char *key, int low, int high)
{
    int value = settingRow(Impianto, key).loadDefaultText().toInt();
    const auto inRange = [fallback = value, within = wholeNumberIn(low, high)](const QString &text) {
        return text.trimmed().isEmpty() ? std::optional<int>(fallback) : within(text);
    };
    readInto(store, Impianto, key, value, inRange, wholeNumberProblem(low, high));
    return value;
}

QString text(const SettingsSnapshot &store, const char *key)
{
    QString value;
    readInto(store, Impianto, key, value, asText);
    return value.trimmed();
}

// A topic level may not hold "/" (it would add levels) nor the wildcards.
QString topicLevel(const QString &name, const char *key)
{
    QString level = name;
    for (QChar c : {QLatin1Char('/'), QLatin1Char('+'), QLatin1Char('#')})
        level.replace(c, QLatin1Char('_'));
    if (level != name)
        qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2=%3 holds characters a topic level cannot: %4 is used")
                                             .arg(QLatin1String(Impianto), QLatin1String(key), quotedForLog(name),
                                                  quotedForLog(level));
    return level;
}

} // namespace

FeedSettings readFeedSettings(const SettingsSnapshot &store)
{
    FeedSettings s;
    s.server = text(store, Server);
    s.port = boundedNumber(store, Porta, 1, 65535);
    const QString line = text(store, Linea);
    s.line = topicLevel(line.isEmpty() ? QSysInfo::machineHostName() : line, Linea);
    if (s.line.isEmpty())
        s.line = QStringLiteral("linea");
    s.user = text(store, Utente);
    s.passwordFile = text(store, FilePassword);
    s.caFile = text(store, FileCA);
    // The library takes 5 s at least; a long interval still sees a dead
    // link within its keep-alive.
    s.keepaliveSeconds = boundedNumber(store, Keepalive, 5, 65535);
    readInto(store, Impianto, Sparkplug, s.sparkplug, toBoolean,
             QStringLiteral("is neither a number nor true or false"));
    const QString group = text(store, Gruppo);
    if (!group.isEmpty())
        s.group = topicLevel(group, Gruppo);
    if (s.enabled())
        qCInfo(lcConfig).noquote()
            << QStringLiteral("%1: broker %2:%3%4, topics %5")
                   .arg(QLatin1String(Impianto), s.server)
                   .arg(s.port)
                   .arg(s.caFile.isEmpty() ? QString() : QStringLiteral(" (TLS)"), s.topicPrefix())
            << (s.sparkplug ? QStringLiteral(", Sparkplug B spBv1.0/%1/+/%2").arg(s.group, s.line) : QString());
    return s;
}

} // namespace quorvex
