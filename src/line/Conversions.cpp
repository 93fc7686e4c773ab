#include "line/Conversions.h"

#include "common/LocaleNumber.h"

#include <QLocale>
#include <cmath>

namespace quorvex {

std::optional<double> toDecimal(const QString &text)
{
    return parseLocaleNumber(text);
}

std::optional<qint16> toWholeNumber(const QString &text)
{
    const auto value = toDecimal(text);
    if (!value)
        return std::nullopt;
    const double rounded = std::nearbyint(*value); // the default mode rounds halves to even
    if (rounded < -32768 || rounded > 32767)
        return std::nullopt;
    return qint16(rounded);
}

std::optional<bool> toBoolean(const QString &text)
{
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto value = toDecimal(word))
        return *value != 0;
    return std::nullopt;
}

} // namespace quorvex
