#include "serial/LineSettings.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace quorvex {

namespace {
// The rates a serial port control offers.
constexpr std::array<qint32, 16> kBaudRates = {110,   300,   600,   1200,  2400,  4800,   9600,   14400,
                                               19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};
} // namespace

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;

    LineSettings s;
    bool ok = false;
    s.baud = parts[0].toInt(&ok);
    if (!ok || parts[0].trimmed() != parts[0]
        || std::find(kBaudRates.begin(), kBaudRates.end(), s.baud) == kBaudRates.end())
        return std::nullopt;

    if (parts[1].size() != 1 || !QStringLiteral("NEOMS").contains(parts[1].toUpper()))
        return std::nullopt;
    s.parity = parts[1].toUpper().at(0).toLatin1();

    if (parts[2].size() != 1 || parts[2] < QLatin1String("5") || parts[2] > QLatin1String("8"))
        return std::nullopt;
    s.dataBits = parts[2].toInt();

    if (parts[3] != QLatin1String("1") && parts[3] != QLatin1String("1.5") && parts[3] != QLatin1String("2"))
        return std::nullopt;
    s.stopBits = parts[3];
    return s;
}

double LineSettings::characterMicroseconds() const
{
    const double stop = stopBits == QLatin1String("1.5") ? 1.5 : stopBits == QLatin1String("2") ? 2 : 1;
    const double bits = 1 + dataBits + (parity == 'N' ? 0 : 1) + stop;
    return baud > 0 ? bits * 1e6 / baud : 0;
}

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
}

AutomationError invalidLineSettings(const QString &text)
{
    return AutomationError(ErrorKind::PortError, 380,
                           QStringLiteral("Invalid property value: \"%1\" is not line settings such as %2")
                               .arg(text.left(64), QLatin1String(kUsualLineSettings)));
}

} // namespace quorvex
