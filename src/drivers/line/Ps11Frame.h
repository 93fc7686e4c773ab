#pragma once
// The PS11 weight stream: DC1 starts it, DC3 stops it; it sends binary
// frames of 12 bytes: 0 DC1, 1 non-zero, 3..4 the weight (high, low),
// 11 the XOR of bytes 0..10, the others not examined.
#include <QByteArrayView>
#include <array>
#include <cstdint>

namespace quorvex {

constexpr char kPs11Start = 0x11; // DC1, also the first byte of a frame
constexpr char kPs11Stop = 0x13; // DC3
constexpr int kPs11FrameLength = 12;

// Positions 0..12; a frame fills 0..11.
using Ps11Buffer = std::array<std::uint8_t, 13>;

// Collects a frame from bytes into buffer: each DC1 starts a new frame at
// position 0, abandoning one in progress; bytes of a frame in progress go to
// the next position; once 12 are stored the rest is ignored. Positions a
// frame does not reach keep what they held. Returns true when a whole
// frame was stored from these bytes.
bool collectPs11Frame(QByteArrayView bytes, Ps11Buffer &buffer);

// Byte 1 is not 0 and byte 11 is the XOR of bytes 0 to 10.
bool ps11FrameValid(const Ps11Buffer &buffer);

// Byte 3 * 256 + byte 4.
double ps11Weight(const Ps11Buffer &buffer);

} // namespace quorvex
