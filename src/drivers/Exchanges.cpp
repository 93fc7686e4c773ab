// The engines of the exchanges several families share (Request,
// RequestUntilValid, Command) and the dispatch to each row's engine; the
// engines of one family live beside its frame file. Each runs on a
// LineExchange that holds the line's turn, and talks to the line only
// through it.
#include "drivers/Exchanges.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/DefinedExchanges.h"
#include "drivers/DriverSupport.h"
#include "drivers/LineExchange.h"
#include "drivers/SharedReads.h"
#include "drivers/line/MelsecExchange.h"
#include "drivers/line/Ps11Exchange.h"
#include "drivers/scales/ContinuousScaleExchange.h"

#include <QCoro/QCoroTimer>
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
    if (model.exchange == Exchange::Handshake)
        return QVariant(QString());
    return fallbackValue(model.onSilence);
}

// Discard, write, let pending events run once, wait for the reply.
QCoro::Task<QVariant> request(LineExchange &line, const InstrumentModel &model)
{
    line.discard();
    line.send(model.request);
    co_await letEventsRun();
    const bool arrived = co_await line.waitFor(model.replyLength);
    if (!arrived)
        co_return fallbackValue(model.onSilence);
    co_return parsedValue(model, line.take());
}

// The request again while the reply fails its check; whatever followed a
// reply belongs to no request of ours and is dropped.
QCoro::Task<QVariant> requestUntilValid(LineExchange &line, const InstrumentModel &model)
{
    for (int attempt = 0; attempt < model.attempts; ++attempt) {
        line.discard();
        line.send(model.request);
        const bool arrived = co_await line.waitFor(model.replyLength);
        if (!arrived)
            co_return fallbackValue(model.onSilence);
        const QByteArray reply = line.take();
        const bool valid = model.check(reply);
        line.discard();
        if (valid)
            co_return parsedValue(model, reply);
    }
    line.fail(QStringLiteral("%1 replies in a row failed their check").arg(model.attempts));
    co_return QVariant(0.0);
}

// A command whose answer is not awaited: discard, write, and discard again
// at once, so nothing it may already have answered is kept.
void command(LineExchange &line, const InstrumentModel &model)
{
    line.discard();
    line.send(model.request);
    line.discard();
}

QCoro::Task<QVariant> runEngine(LineExchange &line, const InstrumentModel &model, const QString &parametri)
{
    switch (model.exchange) {
    case Exchange::Request: co_return co_await request(line, model);
    case Exchange::RequestUntilValid: co_return co_await requestUntilValid(line, model);
    case Exchange::Command: command(line, model); co_return QVariant(0.0);
    case Exchange::StreamWindow: co_return co_await streamWindow(line, model);
    case Exchange::Ps11Stream: co_return co_await ps11Stream(line, model);
    case Exchange::Handshake: co_return co_await handshake(line, parametri);
    case Exchange::DefinedText: co_return co_await definedText(line, model);
    case Exchange::ModbusRtu: co_return co_await modbusRtu(line, model);
    }
    co_return QVariant(0.0);
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
        const QVariant value = co_await runEngine(line, model, parametri);
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
    } catch (...) {
    }
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
