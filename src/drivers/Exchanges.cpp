// Runs one recipe: the identical read it may join, the line's turn, and
// the engine of the recipe's kind of exchange (ExchangeKind.h), which talks
// to the line only through the LineExchange that holds the turn.
#include "drivers/Exchanges.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/ExchangeKind.h"
#include "drivers/LineExchange.h"
#include "drivers/SharedReads.h"

#include <optional>

namespace quorvex {

namespace {

// The port a driver was given; throws NotFound when there is none.
PortControl &requirePort(const PortRef &port)
{
    if (!port)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("No port object"));
    return *port;
}

// What the row gives when its instrument stays silent.
QVariant onSilence(const InstrumentModel &model)
{
    if (model.exchange->givesText)
        return QVariant(QString());
    return fallbackValue(model.onSilence);
}

// One exchange on the line. shared, if any, is closed to joiners once the
// wait for the turn is over, whichever way it ended.
QCoro::Task<QVariant> exchangeOnLine(const InstrumentModel &model, PortControl &port, const QString &parametri,
                                     const QString &role, SharedRead *shared, QString *problem)
{
    LineExchange line(port, model, role);
    const bool mine = co_await line.begin();
    if (shared)
        shared->closeToJoiners();
    if (!mine) {
        qCDebug(lcDriver).noquote() << QStringLiteral("%1 on port %2: the line's turn did not come within %3 ms;"
                                                      " ended as on silence, nothing written")
                                           .arg(driverName(model))
                                           .arg(port.CommPort())
                                           .arg(model.timeout.count());
        *problem = QStringLiteral("the line's turn did not come within %1 ms (port %2 is busy)")
                       .arg(model.timeout.count())
                       .arg(port.CommPort());
        co_return onSilence(model);
    }
    // The reason travels with an error too (a row that throws on silence).
    try {
        const QVariant value = co_await model.exchange->run(line, model, parametri);
        *problem = line.problem();
        co_return value;
    } catch (...) {
        *problem = line.problem();
        throw;
    }
}

// The error an exchange ended with is the line's last error.
void noteError(PortControl &port, const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const AutomationError &e) {
        port.health().lastError = e.text();
    } catch (...) {}
}

} // namespace

QCoro::Task<QVariant> runExchange(const InstrumentModel &model, PortRef ref, QString parametri, QString role,
                                  QString *problem)
{
    QString ignored;
    if (!problem)
        problem = &ignored;
    problem->clear();
    PortControl &port = requirePort(ref);
    const bool shares = sharesIdenticalReads(model);
    if (shares) {
        if (std::shared_ptr<SharedRead::State> queued = SharedRead::queued(port, model, parametri))
            co_return co_await SharedRead::join(std::move(queued), problem);
    }
    std::optional<SharedRead> shared;
    if (shares)
        shared.emplace(port, model, parametri);
    QVariant value;
    std::exception_ptr error;
    try {
        value = co_await exchangeOnLine(model, port, parametri, role, shared ? &*shared : nullptr, problem);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        noteError(port, error);
        if (shared)
            shared->fail(error);
        std::rethrow_exception(error);
    }
    if (shared)
        shared->finish(value, *problem);
    co_return value;
}

} // namespace quorvex
