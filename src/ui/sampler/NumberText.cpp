#include "ui/sampler/NumberText.h"

#include <QLocale>

namespace quorvex {

QString numberText(double value, int digits)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    if (value == 0)
        value = 0; // no "-0"
    return locale.toString(value, 'g', digits);
}

} // namespace quorvex
