// Replies read at fixed positions (polled scales, ELAP counters): for every
// such row of the instrument table, any bytes either convert to a finite
// number or end in the type-mismatch error; nothing else may happen.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/InstrumentModel.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView reply = fuzzReply(data, size);
    for (const quorvex::Recipe &recipe : quorvex::builtInRecipes()) {
        if (recipe.parse != quorvex::parseFixedField)
            continue;
        try {
            if (!std::isfinite(recipe.parse(reply, recipe)))
                __builtin_trap();
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }
    return 0;
}
