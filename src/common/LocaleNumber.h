#pragma once
// The one parser of numbers written in the user's locale (instrument fields
// and stored settings alike): blanks around the number are ignored, and
// only finite numbers count.
#include <QLocale>
#include <QString>
#include <cmath>
#include <optional>

namespace quorvex {

inline std::optional<double> parseLocaleNumber(const QString &text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace quorvex
