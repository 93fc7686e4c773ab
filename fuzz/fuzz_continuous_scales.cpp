// Continuous scale windows: wherever the marker falls and however the text
// ends, the field either converts or ends in the type-mismatch error.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/scales/ContinuousScaleFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzReply(data, size);
    for (const quorvex::ContinuousScale *scale :
         {&quorvex::kFlytn, &quorvex::kMc100, &quorvex::kBmc507, &quorvex::kAlfabilici807}) {
        const int m = quorvex::findMarker(text, *scale);
        if (m < 0 || m > scale->window || m > text.size())
            __builtin_trap();
        if (m == 0)
            continue;
        if (text.at(m - 1) != QLatin1Char(scale->marker))
            __builtin_trap();
        try {
            quorvex::parseContinuousField(text, m, *scale);
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
