#pragma once
// Turning reply fields into numbers: the locale's decimal separator and the
// conversion every driver shares. Pure functions over the bytes of a reply
// (Latin-1, one character a byte), so the reply parsers that use them can be
// fuzzed on their own.
#include <QByteArrayView>
#include <QString>

namespace quorvex {

// The second character of 9.9 formatted under the current locale.
QChar localeDecimalSeparator();

// Replaces every `mark` in field by the locale's decimal separator and
// converts the text under the locale; blanks around the number and a
// leading sign are accepted. Throws the type-mismatch error otherwise.
double convertField(QByteArrayView field, char mark);

// Converts the field under the locale without touching any mark.
double convertLocaleNumber(QByteArrayView field);

// Bytes first..first+count-1 (1-based) of bytes, fewer when it ends first.
QByteArrayView mid1(QByteArrayView bytes, int first, int count);

} // namespace quorvex
