#pragma once
// Scales that answer a request: BILANCIAI D400 (weight and tare) and
// EUROBIL BC100M (weight).
#include "drivers/DriverTable.h"

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

QCoro::Task<QVariant> LeggiPeso_BILANCIAI_D400(PortRef port);
QCoro::Task<QVariant> LeggiTara_BILANCIAI_D400(PortRef port);
QCoro::Task<QVariant> LeggiPeso_EUROBIL_BC100M(PortRef port);

} // namespace quorvex
