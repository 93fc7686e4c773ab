#pragma once
// The CTM counter (model 1): requests and the check of its replies. A reply
// is at least 8 characters: 1 not examined, 2..6 the count in five decimal
// digits, 7 the check character (XOR of 2..6), the rest not examined.
#include <QByteArrayView>

namespace quorvex {

// True when character 7 of the reply is the XOR of characters 2 to 6.
// A reply shorter than 7 characters never checks.
bool ctmReplyChecks(QByteArrayView reply);

// The count in characters 2 to 6 as a whole number; blanks around it and a
// leading sign are accepted. Throws the type-mismatch error otherwise.
double parseCtmCount(QByteArrayView reply);

} // namespace quorvex
