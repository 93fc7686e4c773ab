#pragma once
// Numbers as the operator reads them: plain decimal text in the user's
// locale, no digit grouping, no trailing zeros.
#include <QString>

namespace quorvex {

// Up to `digits` significant digits; an exponent only for values too large
// or too small to show that way.
QString numberText(double value, int digits = 15);

} // namespace quorvex
