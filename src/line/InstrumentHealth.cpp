#include "line/InstrumentHealth.h"

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
    QVariantMap map{
        {QStringLiteral("role"), roleName()},
        {QStringLiteral("brand"), brand},
        {QStringLiteral("model"), model},
        {QStringLiteral("port"), port},
        {QStringLiteral("device"), device},
        {QStringLiteral("settings"), settings},
        {QStringLiteral("state"), QLatin1String(healthStateName(state))},
        {QStringLiteral("lastError"), lastError},
        {QStringLiteral("readings"), QVariant::fromValue(qulonglong(readings))},
        {QStringLiteral("failedReadings"), QVariant::fromValue(qulonglong(failedReadings))},
        {QStringLiteral("timedExchanges"), timedExchanges},
    };
    if (timedExchanges > 0) {
        map.insert(QStringLiteral("exchangeMs"), exchangeMs);
        map.insert(QStringLiteral("wireMs"), wireMs);
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
