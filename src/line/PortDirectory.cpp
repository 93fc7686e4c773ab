#include "line/PortDirectory.h"

#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"

namespace quorvex {

PortDevices readPortDevices(const SettingsSnapshot &store)
{
    PortDevices devices;
    const QString prefix = QLatin1String(settings::Porte) + QLatin1Char('/');
    for (const QString &path : store.allKeys()) {
        if (!path.startsWith(prefix))
            continue;
        const QString key = path.mid(prefix.size());
        bool ok = false;
        const int number = key.toInt(&ok);
        const std::optional<QString> mapped = store.value(QLatin1String(settings::Porte), key);
        if (ok && key == QString::number(number) && mapped && !mapped->isEmpty())
            devices.insert(number, *mapped);
    }
    return devices;
}

QString devicePathIn(const PortDevices &devices, int number)
{
    return devices.value(number, defaultDevicePath(number));
}

QString defaultDevicePath(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

} // namespace quorvex
