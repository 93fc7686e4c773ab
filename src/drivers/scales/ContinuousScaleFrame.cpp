#include "drivers/scales/ContinuousScaleFrame.h"

#include "drivers/FieldConversion.h"

namespace quorvex {

using namespace std::chrono_literals;

const ContinuousScale kFlytn{12, '\r', 2, 6, false, false, 2s};
const ContinuousScale kMc100{38, '\x02', 8, 6, true, true, 2s};
const ContinuousScale kBmc507{43, '$', 2, 6, false, true, 22s};
const ContinuousScale kAlfabilici807{43, '$', 1, 7, false, true, 22s};

int findMarker(const QString &text, const ContinuousScale &scale)
{
    const qsizetype limit = qMin<qsizetype>(text.size(), scale.window);
    for (qsizetype i = 0; i < limit; ++i) {
        if (text.at(i) == QLatin1Char(scale.marker))
            return int(i) + 1;
    }
    return 0;
}

int fieldEnd(int m, const ContinuousScale &scale)
{
    return m + scale.fieldOffset + scale.fieldLength - 1;
}

double parseContinuousField(const QString &text, int m, const ContinuousScale &scale)
{
    QString field = mid1(text, m + scale.fieldOffset, scale.fieldLength);
    if (scale.deletePoints)
        return convertLocaleNumber(field.remove(QLatin1Char('.')));
    return convertField(field, QLatin1Char('.'));
}

} // namespace quorvex
