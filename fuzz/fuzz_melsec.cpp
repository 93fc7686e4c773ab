// MELSEC: any parameters text selects a frame only when it is exactly
// "1", "2" or "3", and any answer is read without fault; frames built from
// any text keep the STX ... ETX + two upper-case hex digits layout.
#include "FuzzLocale.h"
#include "drivers/line/MelsecFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView answer = fuzzReply(data, size);
    const QString text = QString::fromLatin1(answer);
    const QByteArray frame = quorvex::melsecCommandFrame(text);
    const bool exact = text == QLatin1String("1") || text == QLatin1String("2") || text == QLatin1String("3");
    if (frame.isEmpty() == exact || (exact && frame.size() != 9))
        __builtin_trap();
    (void)quorvex::melsecAcknowledged(answer);

    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray built = quorvex::melsecFrame(raw);
    if (built.size() != raw.size() + 4 || built.front() != '\x02' || built.at(raw.size() + 1) != '\x03')
        __builtin_trap();
    for (const char c : built.right(2))
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            __builtin_trap();
    return 0;
}
