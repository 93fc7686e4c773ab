#pragma once
// Replies of the scales that answer a request: what is asked, how much is
// awaited, and where the number stands.
#include <QString>
#include <chrono>

namespace quorvex {

struct PolledScale {
    const char *request;  // bytes written
    int replyLength;      // characters awaited
    int fieldLength;      // characters 1..fieldLength hold the number
    char mark;            // the decimal mark the scale uses
    std::chrono::milliseconds timeout;
};

extern const PolledScale kD400Weight;
extern const PolledScale kD400Tare;
extern const PolledScale kBC100MWeight;

// The number in a reply read from the scale; throws the type-mismatch
// error when the field does not convert.
double parsePolledScaleReply(const QString &reply, const PolledScale &scale);

} // namespace quorvex
