#pragma once
// Turning reply fields into numbers: the locale's decimal separator and the
// conversion every driver shares. Pure functions, so the reply parsers that
// use them can be fuzzed on their own.
#include <QString>

namespace quorvex {

// The second character of 9.9 formatted under the current locale.
QChar localeDecimalSeparator();

// Replaces every `mark` in field by the locale's decimal separator and
// converts the text under the locale; blanks around the number and a
// leading sign are accepted. Throws the type-mismatch error otherwise.
double convertField(QString field, QChar mark);

// Converts text under the locale without touching any mark.
double convertLocaleNumber(const QString &text);

// Characters first..first+count-1 (1-based) of text, fewer when it ends first.
QString mid1(const QString &text, int first, int count);

} // namespace quorvex
