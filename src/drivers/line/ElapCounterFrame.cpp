#include "drivers/line/ElapCounterFrame.h"

#include "drivers/FieldConversion.h"

namespace quorvex {

const ElapModel kElapCm78{18, 7, 8};
const ElapModel kElapCm78A{13, 3, 7};

double parseElapReply(const QString &reply, const ElapModel &model)
{
    return convertField(mid1(reply, model.fieldStart, model.fieldLength), QLatin1Char('.'));
}

} // namespace quorvex
