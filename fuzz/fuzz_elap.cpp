// ELAP counter replies: any bytes either convert or end in the
// type-mismatch error.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/line/ElapCounterFrame.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = fuzzReply(data, size);
    for (const quorvex::ElapModel *model : {&quorvex::kElapCm78, &quorvex::kElapCm78A}) {
        try {
            if (!std::isfinite(quorvex::parseElapReply(reply, *model)))
                __builtin_trap();
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
