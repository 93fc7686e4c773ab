#pragma once
// Where the program keeps its files: below the user's configuration and
// data folders, in "<organization>/<application>".
#include <QStandardPaths>
#include <QString>

namespace quorvex {

inline constexpr char kOrganization[] = "Velkaro s.r.l.";
inline constexpr char kApplication[] = "Quorvex";

// "<organization>/<application>" below the writable folder of location.
inline QString appFolder(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QLatin1Char('/') + QLatin1String(kOrganization)
        + QLatin1Char('/') + QLatin1String(kApplication);
}

} // namespace quorvex
