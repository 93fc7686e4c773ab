// CTM counter replies and PS11 byte streams: any bytes either check and
// convert, or are rejected / end in the type-mismatch error.
#include "FuzzLocale.h"
#include "common/AutomationError.h"
#include "drivers/line/CtmCounterFrame.h"
#include "drivers/line/Ps11Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView reply = fuzzReply(data, size);
    if (quorvex::ctmReplyChecks(reply)) {
        try {
            const double count = quorvex::parseCtmCount(reply);
            if (count < -9999 || count > 99999)
                __builtin_trap();
        } catch (const quorvex::AutomationError &error) {
            if (error.number() != 13)
                __builtin_trap();
        }
    }

    // The same bytes as a PS11 stream, split in two attempts sharing the buffer.
    const QByteArrayView bytes(data, qsizetype(size));
    quorvex::Ps11Buffer buffer{};
    const qsizetype half = bytes.size() / 2;
    for (const QByteArrayView part : {bytes.first(half), bytes.sliced(half)}) {
        const bool whole = quorvex::collectPs11Frame(part, buffer);
        if (whole && buffer[0] != 0x11)
            __builtin_trap();
        if (buffer[12] != 0)
            __builtin_trap(); // a frame never spills into the spare position
        const double weight = quorvex::ps11Weight(buffer);
        if (weight < 0 || weight > 65535)
            __builtin_trap();
        (void)quorvex::ps11FrameValid(buffer);
    }
    return 0;
}
