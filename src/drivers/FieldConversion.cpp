#include "drivers/FieldConversion.h"

#include "common/AutomationError.h"
#include "common/LocaleNumber.h"

#include <QLocale>
#include <cmath>

namespace quorvex {

QChar localeDecimalSeparator()
{
    const QString nine = QLocale().toString(9.9);
    return nine.size() > 1 ? nine.at(1) : QLatin1Char('.');
}

double convertLocaleNumber(const QString &text)
{
    if (const std::optional<double> value = parseLocaleNumber(text))
        return *value;
    throw AutomationError::typeMismatch();
}

double convertField(QString field, QChar mark)
{
    field.replace(mark, localeDecimalSeparator());
    return convertLocaleNumber(field);
}

QString mid1(const QString &text, int first, int count)
{
    if (first < 1 || first > text.size() || count <= 0)
        return QString();
    return text.mid(first - 1, count);
}

} // namespace quorvex
