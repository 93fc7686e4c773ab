#pragma once
// Frames of the MELSEC service command: an enquiry (ENQ) that the
// controller acknowledges (ACK), then STX, the command text, ETX and two
// upper-case hexadecimal digits of the sum of the codes after STX up to and
// including ETX, modulo 256. Pure functions.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace quorvex {

inline constexpr char kMelsecEnq = 0x05;
inline constexpr char kMelsecAck = 0x06;

// STX, text, ETX and the checksum digits.
QByteArray melsecFrame(const QByteArray &text);

// The command frame that parametri selects: exactly "1", "2" or "3" (no
// trimming, no case folding, no numeric reading); empty for anything else.
QByteArray melsecCommandFrame(const QString &parametri);

// Whether the controller's answer to the enquiry starts with ACK; what
// follows the first character does not matter.
bool melsecAcknowledged(QByteArrayView answer);

} // namespace quorvex
