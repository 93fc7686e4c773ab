#include "feed/PrimaryHost.h"

#include "common/Logging.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace quorvex {

void PrimaryHost::reset(const QString &id)
{
    m_id = id;
    m_timestamp = -1;
}

QByteArray PrimaryHost::stateTopic() const
{
    return QStringLiteral("spBv1.0/STATE/%1").arg(m_id).toUtf8();
}

std::optional<bool> PrimaryHost::read(const QByteArray &payload)
{
    const QByteArray plain = payload.trimmed();
    if (plain == "ONLINE" || plain == "OFFLINE")
        return plain == "ONLINE";
    const QJsonObject state = QJsonDocument::fromJson(payload).object();
    if (!state.value(QStringLiteral("online")).isBool()) {
        qCDebug(lcFeed).noquote() << QStringLiteral("Sparkplug B: a STATE of %1 that is not one ignored: %2")
                                         .arg(m_id, QString::fromUtf8(payload.left(200)));
        return std::nullopt;
    }
    const qint64 timestamp = state.value(QStringLiteral("timestamp")).toInteger(-1);
    if (timestamp < m_timestamp) {
        qCDebug(lcFeed).noquote()
            << QStringLiteral("Sparkplug B: a STATE of %1 older than the last one ignored").arg(m_id);
        return std::nullopt;
    }
    m_timestamp = timestamp;
    return state.value(QStringLiteral("online")).toBool();
}

} // namespace quorvex
