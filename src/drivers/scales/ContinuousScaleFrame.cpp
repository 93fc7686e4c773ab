#include "drivers/scales/ContinuousScaleFrame.h"

#include "drivers/FieldConversion.h"

namespace quorvex {

int findMarker(QByteArrayView bytes, const Recipe &scale)
{
    const qsizetype limit = qMin<qsizetype>(bytes.size(), scale.replyLength);
    for (qsizetype i = 0; i < limit; ++i) {
        if (bytes.at(i) == scale.marker)
            return int(i) + 1;
    }
    return 0;
}

int fieldEnd(const Recipe &scale)
{
    return 1 + scale.fieldStart + scale.fieldLength - 1;
}

double parseStreamField(QByteArrayView fromMarker, const Recipe &scale)
{
    const QByteArrayView field = mid1(fromMarker, 1 + scale.fieldStart, scale.fieldLength);
    if (scale.decimalMark == 0)
        return convertLocaleNumber(field.toByteArray().removeIf([](char c) { return c == '.'; }));
    return convertField(field, scale.decimalMark);
}

} // namespace quorvex
