#pragma once
// Frames of the COMAR PROFACE: short text commands; the weight and the
// length come back as an unsigned 16-bit number, high byte first, in bytes
// 6 and 7 of the reply. Pure functions over the bytes read from the port.
#include <QByteArrayView>

namespace quorvex {

// Byte 6 * 256 + byte 7 of a reply, 0 to 65535. Throws the invalid-argument
// error when the reply ends before byte 7.
double parseProfaceReading(QByteArrayView reply);

} // namespace quorvex
