#pragma once
// Frames of the scales that transmit their weight over and over: how many
// characters make a window, which character marks a known place in the
// frame, and where the weight field stands after it.
#include <QString>
#include <chrono>

namespace quorvex {

struct ContinuousScale {
    int window;           // characters awaited, and searched for the marker
    char marker;          // the character that marks a known place in a frame
    int fieldOffset;      // the field starts this many characters after the marker
    int fieldLength;      // characters of the field
    bool deletePoints;    // true: every "." is removed; false: "." is the decimal point
    bool setsTextMode;    // whether the driver switches the port to text mode
    std::chrono::milliseconds timeout;
};

extern const ContinuousScale kFlytn;
extern const ContinuousScale kMc100;
extern const ContinuousScale kBmc507;
extern const ContinuousScale kAlfabilici807;

// 1-based position of the first marker within positions 1..window of text;
// 0 when there is none.
int findMarker(const QString &text, const ContinuousScale &scale);

// How many characters the text must hold for the field after a marker at
// position m to be complete.
int fieldEnd(int m, const ContinuousScale &scale);

// The weight in the field after the marker at position m (as far as the
// text goes). Throws the type-mismatch error when it does not convert.
double parseContinuousField(const QString &text, int m, const ContinuousScale &scale);

} // namespace quorvex
