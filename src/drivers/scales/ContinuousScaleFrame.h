#pragma once
// Frames of the scales that transmit their weight over and over: a window
// of characters is searched for the model's marker, and the weight field
// stands at a fixed distance after it. Pure functions, fuzzed on their own.
#include "drivers/InstrumentModel.h"

namespace quorvex {

// 1-based position of the first marker within positions 1..replyLength of
// bytes; 0 when there is none.
int findMarker(QByteArrayView bytes, const Recipe &scale);

// How many bytes the window must hold, from the marker on, for the field
// after the marker to be complete.
int fieldEnd(const Recipe &scale);

// The weight in the field after the marker, in bytes that start with the
// marker (as far as they go). Throws the type-mismatch error when it does
// not convert.
double parseStreamField(QByteArrayView fromMarker, const Recipe &scale);

} // namespace quorvex
