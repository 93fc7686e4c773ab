// Continuous scale windows: for every stream row of the instrument table,
// wherever the marker falls and however the text ends, the field either
// converts or ends in the type-mismatch error.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/scales/ContinuousScaleExchange.h"
#include "drivers/scales/ContinuousScaleFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text = fuzzReply(data, size);
    for (const quorvex::Recipe &scale : quorvex::builtInRecipes()) {
        if (scale.exchange != &quorvex::exchanges::streamWindow)
            continue;
        const int m = quorvex::findMarker(text, scale);
        if (m < 0 || m > scale.replyLength || m > text.size())
            __builtin_trap();
        if (m == 0)
            continue;
        if (text.at(m - 1) != scale.marker)
            __builtin_trap();
        try {
            scale.parse(text.sliced(m - 1), scale);
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
