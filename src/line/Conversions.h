#pragma once
// Conversions of stored text to the types of the configuration. Each gives
// nullopt when the text does not convert; the caller then keeps its value.
#include <QString>
#include <optional>

namespace quorvex {

// A number of the user's locale, rounded to the nearest whole number
// (halves to the even one), within -32768..32767.
std::optional<qint16> toWholeNumber(const QString &text);
// A decimal number of the user's locale.
std::optional<double> toDecimal(const QString &text);
// A number (true when not 0), or the words true and false.
std::optional<bool> toBoolean(const QString &text);

} // namespace quorvex
