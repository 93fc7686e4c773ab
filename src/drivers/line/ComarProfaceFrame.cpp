#include "drivers/line/ComarProfaceFrame.h"

#include "common/AutomationError.h"

namespace quorvex {

double parseProfaceReading(QByteArrayView reply)
{
    if (reply.size() < 8)
        throw AutomationError::invalidArgument();
    // Bytes as unsigned: 0xFF 0xFF is 65535, never negative.
    const auto high = static_cast<unsigned char>(reply.at(6));
    const auto low = static_cast<unsigned char>(reply.at(7));
    return double(high * 256 + low);
}

} // namespace quorvex
