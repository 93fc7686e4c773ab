#include "line/LineImage.h"

#include <QDateTime>

namespace quorvex {

LineImage::LineImage(QObject *parent) : QObject(parent) {}

qint64 LineImage::nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void LineImage::readingTaken(RoleOperation op, double value)
{
    const std::optional<Value> row = valueOfOperation(op);
    if (!row)
        return;
    const qint64 now = nowMs();
    Entry &e = m_entries[size_t(*row)];
    e.value = value;
    e.timeMs = now;
    e.attemptMs = now;
    // A zeroing's reply says nothing of whether the role's readings are good.
    if (!rowOf(op).actsOnInstrument) {
        m_lastValid[size_t(roleOf(op))] = true;
        m_lastValidMs[size_t(roleOf(op))] = now;
    }
    emit changed(*row);
}

void LineImage::readingFailed(RoleOperation op)
{
    const std::optional<Value> row = valueOfOperation(op);
    if (!row)
        return;
    m_entries[size_t(*row)].attemptMs = nowMs();
    if (!rowOf(op).actsOnInstrument)
        m_lastValid[size_t(roleOf(op))] = false;
}

void LineImage::set(Value value, const QVariant &data, qint64 timeMs)
{
    Entry &e = m_entries[size_t(value)];
    e.value = data;
    e.timeMs = timeMs;
    e.attemptMs = timeMs;
    emit changed(value);
}

QList<RoleHealth> LineImage::health() const
{
    return m_healthSource ? m_healthSource() : QList<RoleHealth>();
}

std::optional<RoleHealth> LineImage::health(Role role) const
{
    for (const RoleHealth &h : health()) {
        if (h.role == role)
            return h;
    }
    return std::nullopt;
}

QVariant LineImage::healthValue(const RoleHealth &h, Value value)
{
    switch (value) {
    case Value::Ruolo: return h.roleName();
    case Value::Marca: return h.brand;
    case Value::Modello: return h.model;
    case Value::Porta: return h.port;
    case Value::Dispositivo: return h.device;
    case Value::Impostazioni: return h.settings;
    case Value::Stato: return QString::fromLatin1(healthStateName(h.state));
    case Value::UltimoErrore: return h.lastError;
    case Value::Letture: return QVariant::fromValue(qulonglong(h.readings));
    case Value::LettureFallite: return QVariant::fromValue(qulonglong(h.failedReadings));
    case Value::ScambiCronometrati: return h.timedExchanges;
    // Medians exist once an exchange has been timed.
    case Value::TempoScambio: return h.timedExchanges > 0 ? QVariant(h.exchangeMs) : QVariant();
    case Value::TempoSuLinea: return h.timedExchanges > 0 ? QVariant(h.wireMs) : QVariant();
    default: return {};
    }
}

ValueQuality LineImage::quality(Value value, qint64 staleAfterMs) const
{
    const PublishedValue &row = published(value);
    const Entry &e = entry(value);
    // The tracking's height comes from its role's readings.
    if (row.source == ValueSource::Reading || row.source == ValueSource::Tracking) {
        const std::optional<RoleHealth> h = health(row.role);
        if (h && (h->state == HealthState::Silent || h->state == HealthState::Closed || h->state == HealthState::Gone))
            return ValueQuality::NoCommunication;
    }
    if (e.timeMs < 0)
        return ValueQuality::WaitingForInitialData;
    if (row.source == ValueSource::Reading && nowMs() - e.timeMs > staleAfterMs)
        return ValueQuality::Stale;
    return ValueQuality::Good;
}

qint64 LineImage::readingAgeMs(Role role) const
{
    const qint64 last = m_lastValidMs[size_t(role)];
    return last < 0 ? -1 : std::max<qint64>(0, nowMs() - last);
}

quint16 LineImage::readingState(Role role, qint64 staleAfterMs) const
{
    const std::optional<RoleHealth> h = health(role);
    const bool open = h && (h->state == HealthState::Ok || h->state == HealthState::Silent);
    const qint64 age = readingAgeMs(role);
    return quint16((m_lastValid[size_t(role)] ? ReadingValid : 0) | (open ? PortOpen : 0)
                   | (age < 0 || age > staleAfterMs ? ReadingStale : 0));
}

} // namespace quorvex
