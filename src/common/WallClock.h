#pragma once
// The wall-clock time as records, logs and signals carry it: microseconds
// since 1970 UTC.
#include <QtGlobal>
#include <chrono>

namespace quorvex {

inline qint64 microsecondsSinceEpoch()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace quorvex
