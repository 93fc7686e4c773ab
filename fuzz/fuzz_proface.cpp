// PROFACE replies: any bytes give a reading from 0 to 65535, or the
// invalid-argument error when the reply ends before byte 7.
#include "common/AutomationError.h"
#include "drivers/line/ComarProfaceFrame.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView reply(data, qsizetype(size));
    try {
        const double value = quorvex::parseProfaceReading(reply);
        if (size < 8 || !(value >= 0 && value <= 65535))
            __builtin_trap();
        if (value != data[6] * 256.0 + data[7])
            __builtin_trap();
    } catch (const quorvex::AutomationError &error) {
        if (error.number() != 5 || size >= 8)
            __builtin_trap();
    }
    return 0;
}
