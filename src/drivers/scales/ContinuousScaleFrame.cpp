#include "drivers/scales/ContinuousScaleFrame.h"

#include "drivers/FieldConversion.h"

namespace quorvex {

int findMarker(const QString &text, const InstrumentModel &scale)
{
    const qsizetype limit = qMin<qsizetype>(text.size(), scale.replyLength);
    for (qsizetype i = 0; i < limit; ++i) {
        if (text.at(i) == QLatin1Char(scale.marker))
            return int(i) + 1;
    }
    return 0;
}

int fieldEnd(const InstrumentModel &scale)
{
    return 1 + scale.fieldStart + scale.fieldLength - 1;
}

double parseStreamField(const QString &fromMarker, const InstrumentModel &scale)
{
    QString field = mid1(fromMarker, 1 + scale.fieldStart, scale.fieldLength);
    if (scale.decimalMark == 0)
        return convertLocaleNumber(field.remove(QLatin1Char('.')));
    return convertField(field, QLatin1Char(scale.decimalMark));
}

} // namespace quorvex
