#pragma once
// How far apart two names are, to suggest the nearest known one.
#include <QString>

namespace quorvex {

// Levenshtein distance, letters compared without regard to case.
int editDistance(const QString &a, const QString &b);

} // namespace quorvex
