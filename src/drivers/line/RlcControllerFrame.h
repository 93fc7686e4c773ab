#pragma once
// Frames of the RLC controller (brand "RLC", model "1"): a status request
// answered with the length and the weight in hexadecimal under a checksum,
// and a zero command. Pure functions over the bytes read from the port.
#include <QByteArrayView>

namespace quorvex {

enum class RlcField { Length, Weight };

// 0-based index of the first character after the reply's first "(", or 0
// when the reply has none: the status block starts there.
qsizetype rlcBlockStart(QByteArrayView reply);

// Whether the status block's checksum digits equal the sum of the codes of
// its 18 characters modulo 256. Throws the invalid-argument error when
// fewer than 18 characters follow the block start, and the type-mismatch
// error when the checksum is missing or not hexadecimal (a single digit at
// the end of the reply is read alone).
bool rlcChecksumMatches(QByteArrayView reply);

// The instrument's raw count h turned into the reading: (h + 9) / 10
// rounded to the nearest integer, halves to the even one. Throws the
// overflow error when h + 9 does not fit a signed 32-bit integer.
double rlcReading(quint32 h);

// The reading in one field of the status block (8 hexadecimal digits of
// either case). Throws the invalid-argument error for a block too short,
// the type-mismatch error for a field that is not hexadecimal and the
// overflow error as rlcReading does.
double rlcFieldValue(QByteArrayView reply, RlcField field);

} // namespace quorvex
