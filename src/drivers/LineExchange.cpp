#include "drivers/LineExchange.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/DriverSupport.h"

#include <QCoro/QCoroTimer>

namespace quorvex {

using namespace std::chrono_literals;

LineExchange::LineExchange(PortControl &port, const InstrumentModel &model, QString role)
    : m_port(port), m_model(model), m_role(std::move(role)), m_deadline(model.timeout)
{
}

LineExchange::~LineExchange()
{
    PortControl::Health &health = m_port.health();
    if (m_heard) {
        if (health.silentExchanges > 0)
            qCInfo(lcHealth).noquote() << QStringLiteral("%1 answers again after %2 silent exchanges")
                                              .arg(who())
                                              .arg(health.silentExchanges);
        health.silentExchanges = 0;
        health.lastReply = QDateTime::currentDateTimeUtc();
    } else if (m_silent) {
        const QString silence = QStringLiteral("no answer within %1 ms").arg(m_model.timeout.count());
        // Once when it stops answering; nothing per call after that.
        if (++health.silentExchanges == 1)
            qCWarning(lcHealth).noquote() << QStringLiteral("%1 stopped answering: %2").arg(who(), silence);
        health.lastError = silence;
    }
}

QString LineExchange::who() const
{
    const QString path = m_port.devicePath();
    return QStringLiteral("%1 on port %2%3, %4 %5")
        .arg(m_role.isEmpty() ? QStringLiteral("a direct call") : m_role)
        .arg(m_port.CommPort())
        .arg(path.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(path), QLatin1String(m_model.brand),
             QLatin1String(m_model.model));
}

QCoro::Task<bool> LineExchange::begin()
{
    m_line = co_await m_port.turn().take(m_model.timeout);
    if (!m_line)
        co_return false;
    // A device another process still holds (a server that is ending hands
    // it over within moments) is waited for briefly, with the line held,
    // instead of failing; the reply clock has not started yet.
    constexpr int kTries = 20;
    for (int attempt = 1;; ++attempt) {
        try {
            m_port.ensureOpen();
            co_return true;
        } catch (const AutomationError &) {
            if (!m_port.deviceHeldElsewhere() || attempt == kTries)
                throw;
        }
        co_await QCoro::sleepFor(50ms);
    }
}

void LineExchange::discard()
{
    m_port.setInBufferCount(0);
}

void LineExchange::send(QByteArrayView bytes)
{
    m_port.Output(bytes.toByteArray());
    restartClock();
}

void LineExchange::restartClock()
{
    m_deadline.setRemainingTime(m_model.timeout);
}

QCoro::Task<bool> LineExchange::waitFor(int n)
{
    const auto left = std::chrono::milliseconds(std::max<qint64>(0, m_deadline.remainingTime()));
    const bool arrived = co_await waitForBytes(m_port, n, left);
    (arrived ? m_heard : m_silent) = true;
    co_return arrived;
}

QByteArray LineExchange::take()
{
    return m_port.takeInput();
}

QVariant fallbackValue(Fallback kind)
{
    switch (kind) {
    case Fallback::Zero: return QVariant(0.0);
    case Fallback::WholeZero: return QVariant::fromValue(qint16(0));
    case Fallback::Empty: return QVariant();
    case Fallback::TypeMismatch: throw AutomationError::typeMismatch();
    }
    return QVariant(0.0);
}

QVariant parsedValue(const InstrumentModel &model, const QByteArray &reply)
{
    return QVariant(model.parse ? model.parse(QString::fromLatin1(reply), model) : 0.0);
}

} // namespace quorvex
