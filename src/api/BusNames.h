#pragma once
// Where Quorvex is on the session bus, and how its values travel.
#include <QDBusVariant>
#include <QVariant>

namespace quorvex {

inline constexpr char kServiceName[] = "com.velkaro.Quorvex";
inline constexpr char kObjectPath[] = "/com/velkaro/Quorvex/Global";
inline constexpr char kInterfaceName[] = "com.velkaro.Quorvex.Global";
// The traffic monitor and the coil records, on the same object.
inline constexpr char kDiagnosticsInterface[] = "com.velkaro.Quorvex.Diagnostics";
inline constexpr char kHistoryInterface[] = "com.velkaro.Quorvex.History";
inline constexpr char kErrorPrefix[] = "com.velkaro.Quorvex.Error.";

// A value as it arrived in a D-Bus variant (any depth of nesting), unwrapped.
inline QVariant unwrapDbusVariant(QVariant value)
{
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace quorvex
