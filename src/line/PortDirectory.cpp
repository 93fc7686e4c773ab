#include "line/PortDirectory.h"

#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"

namespace quorvex {

QString devicePathForPort(int number)
{
    const auto mapped = SettingsStore().value(QLatin1String(settings::Porte), QString::number(number));
    if (mapped.has_value() && !mapped->isEmpty())
        return *mapped;
    return defaultDevicePath(number);
}

QString defaultDevicePath(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

} // namespace quorvex
