// Polled scale replies: any bytes either convert or end in the
// type-mismatch error; nothing else may happen.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/scales/PolledScaleFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = fuzzReply(data, size);
    for (const quorvex::PolledScale *scale : {&quorvex::kD400Weight, &quorvex::kD400Tare, &quorvex::kBC100MWeight}) {
        try {
            quorvex::parsePolledScaleReply(reply, *scale);
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
