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
QVariant onSilence(const Recipe &recipe)
{
    if (recipe.exchange->givesText)
        return QVariant(QString());
    return fallbackValue(recipe.onSilence);
}

// One exchange on the line. shared, if any, is closed to joiners once the
// wait for the turn is over, whichever way it ended.
QCoro::Task<QVariant> exchangeOnLine(const Recipe &recipe, PortControl &port, const QString &parametri,
                                     const QString &role, SharedRead *shared, QString *problem)
{
    LineExchange line(port, recipe, role);
    const bool mine = co_await line.begin();
    if (shared)
        shared->closeToJoiners();
    if (!mine) {
        qCDebug(lcDriver).noquote() << QStringLiteral("%1 on port %2: the line's turn did not come within %3 ms;"
                                                      " ended as on silence, nothing written")
                                           .arg(driverName(recipe))
                                           .arg(port.CommPort())
                                           .arg(recipe.timeout.count());
        *problem = QStringLiteral("the line's turn did not come within %1 ms (port %2 is busy)")
                       .arg(recipe.timeout.count())
                       .arg(port.CommPort());
        co_return onSilence(recipe);
    }
    // The reason travels with an error too (a row that throws on silence).
    try {
        const QVariant value = co_await recipe.exchange->run(line, recipe, parametri);
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

QCoro::Task<QVariant> runExchange(const Recipe &recipe, PortRef ref, QString parametri, QString role, QString *problem)
{
    QString ignored;
    if (!problem)
        problem = &ignored;
    problem->clear();
    PortControl &port = requirePort(ref);
    const bool shares = sharesIdenticalReads(recipe);
    if (shares) {
        if (std::shared_ptr<SharedRead::State> queued = SharedRead::queued(port, recipe, parametri))
            co_return co_await SharedRead::join(std::move(queued), problem);
    }
    std::optional<SharedRead> shared;
    if (shares)
        shared.emplace(port, recipe, parametri);
    QVariant value;
    std::exception_ptr error;
    try {
        value = co_await exchangeOnLine(recipe, port, parametri, role, shared ? &*shared : nullptr, problem);
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
