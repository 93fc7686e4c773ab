#include "BusErrors.h"
#include "Commands.h"
#include "Output.h"
#include "StopSignals.h"

#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QTimer>

namespace quorvex::cli {

namespace {

QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

int callOnce(QDBusConnection &bus, const Request &request)
{
    const QDBusMessage reply = bus.call(buildCall(request), QDBus::Block, request.timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        writeLine(stderr, callFailure(reply, request.timeoutMs));
        return kExitCallFailed;
    }
    const QString text = formatReply(request, reply);
    if (!(request.op && request.op->result == quorvex::ValueType::None))
        writeLine(stdout, text);
    const QString problem = readingProblem(request, reply);
    if (!problem.isEmpty()) {
        writeLine(stderr, QStringLiteral("quorvex: %1: %2").arg(request.name, problem));
        return kExitNoReading;
    }
    return kExitOk;
}

int watch(QCoreApplication &app, QDBusConnection &bus, const Request &request)
{
    if (!quitOnStopSignals(app))
        return kExitCallFailed;

    const QDBusMessage message = buildCall(request);
    bool pending = false;
    bool lastFailed = false;
    bool lastNoReading = false;
    // Ticks at a fixed rate; a tick that comes while the previous call is
    // still waiting for its answer is skipped rather than queued.
    auto tick = [&] {
        if (pending)
            return;
        pending = true;
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, request.timeoutMs), &app);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &app, [&, watcher] {
            watcher->deleteLater();
            pending = false;
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ReplyMessage) {
                lastFailed = false;
                QString line = timestamp();
                const QString text = formatReply(request, reply);
                if (!text.isEmpty())
                    line += QLatin1Char('\t') + text;
                const QString problem = readingProblem(request, reply);
                lastNoReading = !problem.isEmpty();
                if (lastNoReading)
                    line += QStringLiteral("\t# no reading: ") + problem;
                writeLine(stdout, line);
            } else {
                lastFailed = true;
                writeLine(stderr, timestamp() + QLatin1Char('\t') + callFailure(reply, request.timeoutMs));
            }
        });
    };
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &app, tick);
    timer.start(request.watchMs);
    tick();
    app.exec();
    return lastFailed ? kExitCallFailed : lastNoReading ? kExitNoReading : kExitOk;
}

} // namespace

int runOperation(Session &session, const Request &request)
{
    return request.watchMs > 0 ? watch(session.app, session.bus, request) : callOnce(session.bus, request);
}

} // namespace quorvex::cli
