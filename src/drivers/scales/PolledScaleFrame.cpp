#include "drivers/scales/PolledScaleFrame.h"

#include "drivers/FieldConversion.h"

namespace quorvex {

using namespace std::chrono_literals;

const PolledScale kD400Weight{"XB\r", 15, 9, ',', 2s};
const PolledScale kD400Tare{"XT\r", 15, 9, ',', 2s};
const PolledScale kBC100MWeight{"$", 8, 7, '.', 22s};

double parsePolledScaleReply(const QString &reply, const PolledScale &scale)
{
    return convertField(reply.left(scale.fieldLength), QLatin1Char(scale.mark));
}

} // namespace quorvex
