#include "serial/PortReference.h"

#include "common/AutomationError.h"
#include "serial/LineSettings.h"

namespace quorvex {

PortReference parsePortReference(const QString &text)
{
    // Longer than any device path can be: refused before anything is done
    // with it (a UTF-8 byte per character at least).
    if (text.size() > kMaxPortReferenceBytes || text.toUtf8().size() > kMaxPortReferenceBytes)
        throw AutomationError(ErrorKind::InvalidArgument, 5,
                              QStringLiteral("A port reference is at most %1 bytes").arg(kMaxPortReferenceBytes));
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
    // Line settings follow the last ":" and hold commas; device names may
    // hold colons (/dev/serial/by-path/pci-0000:00:14.0-...) but no commas.
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && text.indexOf(QLatin1Char(','), colon) > colon) {
        const QString settings = text.mid(colon + 1);
        if (!LineSettings::parse(settings))
            throw invalidLineSettings(settings);
        reference.devicePath = text.left(colon);
        reference.settings = settings;
    }
    return reference;
}

} // namespace quorvex
