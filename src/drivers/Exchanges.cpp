// One engine per kind of exchange. Each runs with the line's turn held.
#include "drivers/Exchanges.h"

#include "common/AutomationError.h"
#include "drivers/DriverSupport.h"
#include "drivers/line/MelsecFrame.h"
#include "drivers/line/Ps11Frame.h"
#include "drivers/scales/ContinuousScaleFrame.h"

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>

namespace quorvex {

using namespace std::chrono_literals;

namespace {

int portMode(InputMode mode)
{
    return mode == InputMode::Binary ? PortControl::Binary : PortControl::Text;
}

// What the port received, as Latin-1 text whatever its input mode.
QString takeText(PortControl &port)
{
    const QVariant input = port.Input();
    if (input.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(input.toByteArray());
    return input.toString();
}

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

QVariant parsed(const InstrumentModel &model, const QString &reply)
{
    return QVariant(model.parse ? model.parse(reply, model) : 0.0);
}

// Discard, write, let pending events run once, wait for the reply.
QCoro::Task<QVariant> request(PortControl &port, const InstrumentModel &model)
{
    const std::optional<QVariant> reply = co_await requestReply(
        port, portMode(model.inputMode), QByteArray(model.request), model.replyLength, model.timeout);
    if (!reply)
        co_return fallback(model.onSilence);
    const QString text = reply->typeId() == QMetaType::QByteArray ? QString::fromLatin1(reply->toByteArray())
                                                                  : reply->toString();
    co_return parsed(model, text);
}

// The request again while the reply fails its check; whatever followed a
// reply belongs to no request of ours and is dropped.
QCoro::Task<QVariant> requestUntilValid(PortControl &port, const InstrumentModel &model)
{
    port.setInputMode(portMode(model.inputMode));
    for (int attempt = 0; attempt < model.attempts; ++attempt) {
        port.setInBufferCount(0);
        port.Output(QByteArray(model.request));
        if (!co_await waitForBytes(port, model.replyLength, model.timeout))
            co_return fallback(model.onSilence);
        const QString reply = takeText(port);
        const bool valid = model.check(reply);
        port.setInBufferCount(0);
        if (valid)
            co_return parsed(model, reply);
    }
    co_return QVariant(0.0);
}

// Each window throws away what has piled up, waits for a window of fresh
// characters and looks for the marker in it.
QCoro::Task<QVariant> streamWindow(PortControl &port, const InstrumentModel &model)
{
    if (model.setsTextMode)
        port.setInputMode(PortControl::Text);
    for (int window = 1; window <= model.attempts; ++window) {
        port.setInBufferCount(0);
        co_await letEventsRun();
        QElapsedTimer clock;
        clock.start();
        if (!co_await waitForBytes(port, model.replyLength, model.timeout))
            co_return fallback(model.onSilence);
        QString text = takeText(port);
        const int m = findMarker(text, model);
        if (m == 0) {
            port.setInBufferCount(0);
            continue;
        }
        // A marker near the end of the window leaves its field partly
        // untransmitted; the scale is still sending it, so wait for the rest
        // (within what is left of this window's time-out) rather than read a
        // truncated number.
        text = text.mid(m - 1);
        if (text.size() < fieldEnd(model)) {
            const auto left = std::max<qint64>(0, model.timeout.count() - clock.elapsed());
            if (!co_await waitForBytes(port, int(fieldEnd(model) - text.size()), std::chrono::milliseconds(left)))
                co_return fallback(model.onSilence);
            text += takeText(port);
        }
        co_return parsed(model, text);
    }
    co_return fallback(model.onNoMarker);
}

// Started once with DC1; each attempt takes a chunk of the stream and looks
// for a whole, valid frame in it. Every ending that gives a value writes
// DC3 first, so the scale is left quiet.
QCoro::Task<QVariant> ps11Stream(PortControl &port, const InstrumentModel &model)
{
    Ps11Buffer buffer{};
    port.setInputMode(portMode(model.inputMode));
    port.setInBufferCount(0);
    port.Output(QByteArray(1, kPs11Start));
    for (int attempt = 0; attempt < model.attempts; ++attempt) {
        if (!co_await waitForBytes(port, model.replyLength, model.timeout))
            break;
        const QByteArray bytes = port.Input().toByteArray();
        // Only a frame collected whole from these bytes counts: a frame cut
        // short would otherwise be completed by bytes of an older frame.
        if (!collectPs11Frame(bytes, buffer) || !ps11FrameValid(buffer)) {
            port.setInBufferCount(0);
            continue;
        }
        port.Output(QByteArray(1, kPs11Stop));
        const double weight = ps11Weight(buffer);
        port.setInBufferCount(0);
        co_return QVariant(weight);
    }
    port.Output(QByteArray(1, kPs11Stop));
    co_return QVariant(0.0);
}

// ENQ, wait for the controller; on ACK send the frame the parameters
// select; then wait once more for the controller's answer and drop it.
QCoro::Task<QVariant> handshake(PortControl &port, const InstrumentModel &model, QString parametri)
{
    const QString result;
    port.setInputMode(PortControl::Text);
    port.setInBufferCount(0);
    port.Output(QByteArray(1, kMelsecEnq));
    if (!co_await waitForBytes(port, 1, model.timeout))
        co_return QVariant(result);
    const QString answer = takeText(port);
    const QByteArray frame = melsecCommandFrame(parametri);
    if (melsecAcknowledged(answer) && !frame.isEmpty())
        port.Output(frame);
    if (co_await waitForBytes(port, 1, model.timeout))
        port.Input();
    co_return QVariant(result);
}

// A port whose device went away is opened again here once it is back; while
// it is gone the exchange fails at once with the reason. A device another
// process still holds (a server that is ending hands it over within moments)
// is waited for briefly, with the line's turn held, instead of failing.
QCoro::Task<> openIfNeeded(PortControl &port)
{
    constexpr int kTries = 20;
    constexpr auto kPause = 50ms;
    for (int attempt = 1;; ++attempt) {
        try {
            port.ensureOpen();
            co_return;
        } catch (const AutomationError &) {
            if (!port.deviceHeldElsewhere() || attempt == kTries)
                throw;
        }
        co_await QCoro::sleepFor(kPause);
    }
}

} // namespace

QCoro::Task<QVariant> runExchange(const InstrumentModel &model, PortRef ref, QString parametri)
{
    PortControl &port = requirePort(ref);
    const LineTurn::Holder line = co_await port.turn().take();
    co_await openIfNeeded(port);
    switch (model.exchange) {
    case Exchange::Request: co_return co_await request(port, model);
    case Exchange::RequestUntilValid: co_return co_await requestUntilValid(port, model);
    case Exchange::Command:
        sendWithoutWaiting(port, QByteArray(model.request));
        co_return QVariant(0.0);
    case Exchange::StreamWindow: co_return co_await streamWindow(port, model);
    case Exchange::Ps11Stream: co_return co_await ps11Stream(port, model);
    case Exchange::Handshake: co_return co_await handshake(port, model, std::move(parametri));
    }
    co_return QVariant(0.0);
}

} // namespace quorvex
