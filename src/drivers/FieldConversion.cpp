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

double convertLocaleNumber(QByteArrayView field)
{
    // The locale's parser reads text; a reply's bytes are Latin-1.
    if (const std::optional<double> value = parseLocaleNumber(QString::fromLatin1(field)))
        return *value;
    throw AutomationError::typeMismatch();
}

double convertField(QByteArrayView field, char mark)
{
    // The locale's separator need not be one byte, so the mark is replaced
    // in the text, not in the bytes.
    QString text = QString::fromLatin1(field);
    text.replace(QLatin1Char(mark), localeDecimalSeparator());
    if (const std::optional<double> value = parseLocaleNumber(text))
        return *value;
    throw AutomationError::typeMismatch();
}

QByteArrayView mid1(QByteArrayView bytes, int first, int count)
{
    if (first < 1 || first > bytes.size() || count <= 0)
        return {};
    return bytes.sliced(first - 1, qMin<qsizetype>(count, bytes.size() - (first - 1)));
}

} // namespace quorvex
