#include "drivers/line/Ps11Frame.h"

namespace quorvex {

bool collectPs11Frame(QByteArrayView bytes, Ps11Buffer &buffer)
{
    int stored = -1; // -1: no frame in progress
    for (const char byte : bytes) {
        if (byte == kPs11Start)
            stored = 0;
        if (stored < 0)
            continue;
        buffer[std::size_t(stored++)] = std::uint8_t(byte);
        if (stored == kPs11FrameLength)
            return true;
    }
    return false;
}

bool ps11FrameValid(const Ps11Buffer &buffer)
{
    if (buffer[1] == 0)
        return false;
    std::uint8_t check = 0;
    for (int i = 0; i <= 10; ++i)
        check ^= buffer[std::size_t(i)];
    return check == buffer[11];
}

double ps11Weight(const Ps11Buffer &buffer)
{
    return buffer[3] * 256 + buffer[4];
}

} // namespace quorvex
