#include "api/PortReference.h"

#include "common/AutomationError.h"
#include "serial/SerialPort.h"

namespace quorvex {

ResolvedPort resolvePortReference(const QString &reference, Server &server)
{
    if (reference.isEmpty())
        return {};

    bool isNumber = false;
    const int number = reference.toInt(&isNumber);
    if (isNumber) {
        PortRef port = server.FormTools() ? server.FormTools()->element(number) : nullptr;
        if (!port)
            throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("No port object %1").arg(number));
        return {port, false};
    }

    QString path = reference;
    QString settings;
    const int colon = reference.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && LineSettings::parse(reference.mid(colon + 1))) {
        path = reference.left(colon);
        settings = reference.mid(colon + 1);
    }
    auto port = std::make_shared<SerialPort>(path);
    if (!settings.isEmpty())
        port->setSettings(settings);
    port->setPortOpen(true);
    return {port, true};
}

} // namespace quorvex
