// Modbus TCP framing of what a client sends: any bytes split into whole
// frames and a remainder that together are exactly the input; an
// incomplete frame takes nothing.
#include "api/modbus/MbapFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray buffer(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype taken = 0;
    for (;;) {
        const qsizetype before = buffer.size();
        const quorvex::modbus::MbapFrame frame = quorvex::modbus::takeFrame(buffer);
        if (frame.status != quorvex::modbus::MbapFrame::Status::Complete) {
            if (buffer.size() != before)
                __builtin_trap();
            break;
        }
        const qsizetype length = before - buffer.size();
        if (length < 8 || length > 260 || frame.request.size() != length - 7)
            __builtin_trap();
        taken += length;
        (void)quorvex::modbus::responseFrame(frame.transaction, frame.unit,
                                             QModbusResponse(frame.request.functionCode(), frame.request.data()));
    }
    if (taken + buffer.size() != qsizetype(size))
        __builtin_trap();
    return 0;
}
