#include "line/InstrumentHealth.h"

#include "line/LineImage.h"

namespace quorvex {

const char *healthStateName(HealthState state)
{
    switch (state) {
    case HealthState::Ok: return "ok";
    case HealthState::Silent: return "silent";
    case HealthState::Closed: return "closed";
    case HealthState::Gone: return "gone";
    case HealthState::Unconfigured: return "unconfigured";
    }
    return "unconfigured";
}

QVariantMap RoleHealth::toMap() const
{
    QVariantMap map;
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Health || !row.dbus)
            continue;
        const QVariant value = LineImage::healthValue(*this, row.value);
        if (value.isValid())
            map.insert(QLatin1String(row.dbus), value);
    }
    return map;
}

bool healthStatesDiffer(const QList<RoleHealth> &a, const QList<RoleHealth> &b)
{
    if (a.size() != b.size())
        return true;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].role != b[i].role || a[i].state != b[i].state)
            return true;
    }
    return false;
}

} // namespace quorvex
