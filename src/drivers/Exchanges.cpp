// One engine per kind of exchange. Each runs on a LineExchange that holds
// the line's turn, and talks to the line only through it.
#include "drivers/Exchanges.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/DriverSupport.h"
#include "drivers/LineExchange.h"
#include "drivers/SharedReads.h"
#include "drivers/line/MelsecFrame.h"
#include "drivers/line/Ps11Frame.h"
#include "drivers/scales/ContinuousScaleFrame.h"

#include <QCoro/QCoroTimer>
#include <optional>

namespace quorvex {

namespace {

QVariant fallback(Fallback kind)
{
    switch (kind) {
    case Fallback::Zero: return QVariant(0.0);
    case Fallback::WholeZero: return QVariant::fromValue(qint16(0));
    case Fallback::Empty: return QVariant();
    case Fallback::TypeMismatch: throw AutomationError::typeMismatch();
    }
    return QVariant(0.0);
}

// What the row gives when its instrument stays silent.
QVariant onSilence(const InstrumentModel &model)
{
    if (model.exchange == Exchange::Handshake)
        return QVariant(QString());
    return fallback(model.onSilence);
}

QVariant parsed(const InstrumentModel &model, const QByteArray &reply)
{
    return QVariant(model.parse ? model.parse(QString::fromLatin1(reply), model) : 0.0);
}

// Discard, write, let pending events run once, wait for the reply.
QCoro::Task<QVariant> request(LineExchange &line, const InstrumentModel &model)
{
    line.discard();
    line.send(model.request);
    co_await letEventsRun();
    const bool arrived = co_await line.waitFor(model.replyLength);
    if (!arrived)
        co_return fallback(model.onSilence);
    co_return parsed(model, line.take());
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
            co_return fallback(model.onSilence);
        const QByteArray reply = line.take();
        const bool valid = model.check(QString::fromLatin1(reply));
        line.discard();
        if (valid)
            co_return parsed(model, reply);
    }
    co_return QVariant(0.0);
}

// Each window throws away what has piled up, waits for a window of fresh
// characters and looks for the marker in it.
QCoro::Task<QVariant> streamWindow(LineExchange &line, const InstrumentModel &model)
{
    for (int window = 1; window <= model.attempts; ++window) {
        line.discard();
        co_await letEventsRun();
        line.restartClock();
        const bool arrived = co_await line.waitFor(model.replyLength);
        if (!arrived)
            co_return fallback(model.onSilence);
        QByteArray bytes = line.take();
        const int m = findMarker(QString::fromLatin1(bytes), model);
        if (m == 0) {
            line.discard();
            continue;
        }
        // A marker near the end of the window leaves its field partly
        // untransmitted; the scale is still sending it, so wait for the rest
        // (within what is left of this window's time-out) rather than read a
        // truncated number.
        bytes = bytes.mid(m - 1);
        if (bytes.size() < fieldEnd(model)) {
            const bool rest = co_await line.waitFor(int(fieldEnd(model) - bytes.size()));
            if (!rest)
                co_return fallback(model.onSilence);
            bytes += line.take();
        }
        co_return parsed(model, bytes);
    }
    co_return fallback(model.onNoMarker);
}

// Started once with DC1; each attempt takes a chunk of the stream and looks
// for a whole, valid frame in it. Every ending that gives a value writes
// DC3 first, so the scale is left quiet.
QCoro::Task<QVariant> ps11Stream(LineExchange &line, const InstrumentModel &model)
{
    Ps11Buffer buffer{};
    line.discard();
    line.send(QByteArrayView(&kPs11Start, 1));
    for (int attempt = 0; attempt < model.attempts; ++attempt) {
        if (attempt > 0)
            line.restartClock();
        const bool arrived = co_await line.waitFor(model.replyLength);
        if (!arrived)
            break;
        const QByteArray bytes = line.take();
        // Only a frame collected whole from these bytes counts: a frame cut
        // short would otherwise be completed by bytes of an older frame.
        if (!collectPs11Frame(bytes, buffer) || !ps11FrameValid(buffer)) {
            line.discard();
            continue;
        }
        line.send(QByteArrayView(&kPs11Stop, 1));
        const double weight = ps11Weight(buffer);
        line.discard();
        co_return QVariant(weight);
    }
    line.send(QByteArrayView(&kPs11Stop, 1));
    co_return QVariant(0.0);
}

// ENQ, wait for the controller; on ACK send the frame the parameters
// select; then wait once more for the controller's answer and drop it.
QCoro::Task<QVariant> handshake(LineExchange &line, const InstrumentModel &model, const QString &parametri)
{
    const QString result;
    line.discard();
    line.send(QByteArrayView(&kMelsecEnq, 1));
    const bool arrived = co_await line.waitFor(1);
    if (!arrived)
        co_return QVariant(result);
    const QString answer = QString::fromLatin1(line.take());
    const QByteArray frame = melsecCommandFrame(parametri);
    if (melsecAcknowledged(answer) && !frame.isEmpty())
        line.send(frame);
    else
        line.restartClock();
    const bool answered = co_await line.waitFor(1);
    if (answered)
        line.take();
    co_return QVariant(result);
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
    case Exchange::Handshake: co_return co_await handshake(line, model, parametri);
    }
    co_return QVariant(0.0);
}

// One exchange on the line. shared, if any, is closed to joiners once the
// wait for the turn is over, whichever way it ended.
QCoro::Task<QVariant> exchangeOnLine(const InstrumentModel &model, PortControl &port, const QString &parametri,
                                     const QString &role, SharedRead *shared)
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
        co_return onSilence(model);
    }
    const QVariant value = co_await runEngine(line, model, parametri);
    co_return value;
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

QCoro::Task<QVariant> runExchange(const InstrumentModel &model, PortRef ref, QString parametri, QString role)
{
    PortControl &port = requirePort(ref);
    const bool shares = sharesIdenticalReads(model);
    if (shares) {
        if (std::shared_ptr<SharedRead::State> queued = SharedRead::queued(port, model, parametri))
            co_return co_await SharedRead::join(std::move(queued));
    }
    std::optional<SharedRead> shared;
    if (shares)
        shared.emplace(port, model, parametri);
    QVariant value;
    std::exception_ptr error;
    try {
        value = co_await exchangeOnLine(model, port, parametri, role, shared ? &*shared : nullptr);
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
        shared->finish(value);
    co_return value;
}

} // namespace quorvex
