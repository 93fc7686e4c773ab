#pragma once
// Reading a key of the schema: the stored text, or the schema's default for
// an absent key, through a conversion; a stored value that does not convert
// is named in one warning, and the caller's value stays.
#include "common/Logging.h"
#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"

#include <QLocale>
#include <optional>

namespace quorvex {

using LogCategory = const QLoggingCategory &(*)();

// The value as the text of a warning.
inline QString shownSetting(const QString &v)
{
    return v;
}
inline QString shownSetting(double v)
{
    return QLocale().toString(v);
}
inline QString shownSetting(int v)
{
    return QLocale().toString(v);
}
inline QString shownSetting(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

// What a decimal that does not convert is not.
inline QString decimalProblem()
{
    return QStringLiteral("is not a number in the user's format (%1, decimal mark \"%2\")")
        .arg(QLocale().name(), QLocale().decimalPoint());
}

// The converted value of group/key; nullopt for an absent key without a
// default and for a value that does not convert, which is warned about as
// "[group] key="text" problem: fallback".
template<typename Convert>
auto readSetting(const SettingsSnapshot &store, const char *groupName, const char *key, Convert convert,
                 const QString &problem, const QString &fallback, LogCategory category = lcConfig)
    -> decltype(convert(QString()))
{
    const QString group = QLatin1String(groupName);
    const std::optional<QString> stored = store.value(group, QLatin1String(key));
    if (auto value = convert(stored.value_or(settingRow(groupName, key).loadDefaultText())))
        return value;
    if (stored)
        qCWarning(category).noquote() << QStringLiteral("[%1] %2=%3 %4: %5")
                                             .arg(group, QLatin1String(key), quotedForLog(*stored), problem, fallback);
    return std::nullopt;
}

// Reads group/key into target; a value that does not convert leaves target
// as it was, and the warning says that value is used instead.
template<typename T, typename Convert>
void readInto(const SettingsSnapshot &store, const char *groupName, const char *key, T &target, Convert convert,
              const QString &problem = QString(), LogCategory category = lcConfig)
{
    if (const auto value = readSetting(store, groupName, key, convert, problem,
                                       QStringLiteral("%1 is used instead").arg(shownSetting(target)), category))
        target = *value;
}

// Any text, as stored.
inline std::optional<QString> asText(const QString &text)
{
    return text;
}

// A whole number from low to high, of the user's format or in C form.
inline auto wholeNumberIn(int low, int high)
{
    return [low, high](const QString &text) -> std::optional<int> {
        bool ok = false;
        int value = QLocale().toInt(text.trimmed(), &ok);
        if (!ok)
            value = QLocale::c().toInt(text.trimmed(), &ok);
        if (ok && value >= low && value <= high)
            return value;
        return std::nullopt;
    };
}

inline QString wholeNumberProblem(int low, int high)
{
    return QStringLiteral("is not a whole number from %1 to %2").arg(low).arg(high);
}

// group/key as a whole number within [low, high]; the schema's default when
// it is not one (with a warning) or empty.
inline int boundedNumber(const SettingsSnapshot &store, const char *groupName, const char *key, int low, int high)
{
    int value = settingRow(groupName, key).loadDefaultText().toInt();
    const auto inRange = [fallback = value, within = wholeNumberIn(low, high)](const QString &text) {
        return text.trimmed().isEmpty() ? std::optional<int>(fallback) : within(text);
    };
    readInto(store, groupName, key, value, inRange, wholeNumberProblem(low, high));
    return value;
}

} // namespace quorvex
