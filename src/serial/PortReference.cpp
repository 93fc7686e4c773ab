#include "serial/PortReference.h"

#include "serial/LineSettings.h"

namespace quorvex {

PortReference parsePortReference(const QString &text)
{
    PortReference reference;
    if (text.isEmpty())
        return reference;
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber) {
        reference.number = number;
        return reference;
    }
    reference.devicePath = text;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && LineSettings::parse(text.mid(colon + 1))) {
        reference.devicePath = text.left(colon);
        reference.settings = text.mid(colon + 1);
    }
    return reference;
}

} // namespace quorvex
