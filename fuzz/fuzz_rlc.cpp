// RLC status replies: any text either checks and reads, or ends in the
// errors the protocol defines (5, 6, 13); a reading is a whole number from
// 1 to 214748365.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/line/RlcControllerFrame.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView reply = fuzzReply(data, size);
    try {
        quorvex::rlcChecksumMatches(reply);
    } catch (const quorvex::AutomationError &error) {
        if (error.number() != 5 && error.number() != 13)
            __builtin_trap();
    }
    for (const auto field : {quorvex::RlcField::Length, quorvex::RlcField::Weight}) {
        try {
            const double value = quorvex::rlcFieldValue(reply, field);
            if (!(value >= 1 && value <= 214748365 && value == std::floor(value)))
                __builtin_trap();
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 5 && error.number() != 6 && error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
