#include "drivers/line/ComarProfaceFrame.h"

#include "common/AutomationError.h"

namespace quorvex {

const ProfaceCommand kProfaceWeight{"@2\r", 1, 9};
const ProfaceCommand kProfaceLength{"@1\r", 1, 9};
const ProfaceCommand kProfaceZero{"@3\r", 0, 10};

double parseProfaceReading(const QByteArray &reply)
{
    if (reply.size() < 8)
        throw AutomationError::invalidArgument();
    // Bytes as unsigned: 0xFF 0xFF is 65535, never negative.
    const auto high = static_cast<unsigned char>(reply.at(6));
    const auto low = static_cast<unsigned char>(reply.at(7));
    return double(high * 256 + low);
}

} // namespace quorvex
