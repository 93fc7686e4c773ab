// quorvex: command-line client of the Quorvex server. Calls one operation by
// name or dispatch identifier over the D-Bus session bus and prints the
// result, once or repeatedly (--watch); lists the server's ports and traces
// their bytes (ports, monitor).
#include "BusErrors.h"
#include "Cli.h"
#include "LocalProgram.h"
#include "Monitor.h"
#include "ProbeCli.h"
#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/Capture.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace quorvex::cli;

namespace {

void writeLine(std::FILE *out, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

// QtDBus registers its own value types lazily, from whichever thread meets
// them first; its connection thread racing the main thread then warns
// "Trying to construct an instance of an invalid type" (QTBUG-108822).
// Registering them here, before any connection exists, avoids the race.
void registerDbusTypes()
{
    qRegisterMetaType<QDBusArgument>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusError>();
}

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

int reload(QDBusConnection &bus, int timeoutMs)
{
    // A server that is not running yet is started, as a reading starts it:
    // it then loads the settings file as it starts.
    const QDBusMessage reply =
        bus.call(diagnosticsCall(QStringLiteral("Reload"), ServerStart::ByActivation), QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        writeLine(stderr, callFailure(reply, timeoutMs));
        return kExitCallFailed;
    }
    const QStringList warnings = reply.arguments().value(0).toStringList();
    for (const QString &warning : warnings)
        writeLine(stderr, QStringLiteral("quorvex: reload: ") + warning);
    return warnings.isEmpty() ? kExitOk : kExitLoadWarnings;
}

// SIGINT/SIGTERM end the watch loop through the event loop, so a pending
// call is simply abandoned and the process exits at once.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// From now on SIGINT and SIGTERM end the event loop; false if they cannot.
bool quitOnStopSignals(QCoreApplication &app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("quorvex: pipe");
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    auto *stopper = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(stopper, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    return true;
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

// The traffic trace on stdout, the monitor's own notes on stderr.
int monitor(QCoreApplication &app, QDBusConnection &bus, const Request &request)
{
    // Looking must not start the server; without one there is nothing to watch.
    if (!bus.interface()->isServiceRegistered(QLatin1String(quorvex::kServiceName))) {
        writeLine(stderr, noServerRunning());
        return kExitCallFailed;
    }
    if (!quitOnStopSignals(app))
        return kExitCallFailed;
    QFile capture(request.savePath);
    TrafficMonitor::Sink out = [](const TrafficChunk &chunk) { writeLine(stdout, formatTraffic(chunk)); };
    QStringList ports = request.monitorPort.isEmpty() ? QStringList() : QStringList(request.monitorPort);
    if (!request.savePath.isEmpty()) {
        if (!capture.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            writeLine(stderr,
                      QStringLiteral("quorvex: cannot write %1: %2").arg(request.savePath, capture.errorString()));
            return kExitCallFailed;
        }
        capture.write(QByteArray::fromStdString(quorvex::capture::header()));
        capture.flush();
        ports = request.monitorPorts;
        // Each chunk goes to the file at once: a capture ended by a signal
        // or a crash keeps everything up to its last chunk.
        out = [&capture](const TrafficChunk &chunk) {
            if (capture.write(captureLine(chunk)) < 0 || !capture.flush()) {
                writeLine(
                    stderr,
                    QStringLiteral("quorvex: cannot write %1: %2").arg(capture.fileName(), capture.errorString()));
                QCoreApplication::exit(kExitCallFailed);
            }
        };
    }
    TrafficMonitor monitor(bus, ports, out,
                           [](const QString &note) { writeLine(stderr, QStringLiteral("quorvex: ") + note); });
    if (!monitor.start()) {
        writeLine(stderr, QStringLiteral("quorvex: cannot subscribe to the traffic: ") + bus.lastError().message());
        return kExitCallFailed;
    }
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    Request request;
    try {
        request = parseCommandLine(arguments);
    } catch (const UsageError &error) {
        writeLine(stderr, QStringLiteral("quorvex: ") + error.message());
        writeLine(stderr, QStringLiteral("Try 'quorvex --help'."));
        return kExitUsage;
    }

    switch (request.mode) {
    case Request::Mode::Help: std::fputs(usageText().toLocal8Bit().constData(), stdout); return kExitOk;
    case Request::Mode::Version: std::printf("quorvex %s\n", QUORVEX_VERSION); return kExitOk;
    case Request::Mode::List: std::fputs(listOperations().toLocal8Bit().constData(), stdout); return kExitOk;
    case Request::Mode::Models:
        return execLocalProgram(request.modelsPage == Request::Page::Markdown  ? QStringList{"models", "--markdown"}
                                    : request.modelsPage == Request::Page::Man ? QStringList{"models", "--man"}
                                                                               : QStringList{"models"});
    case Request::Mode::Call:
    case Request::Mode::Ports:
    case Request::Mode::Monitor:
    case Request::Mode::History:
    case Request::Mode::Probe:
    case Request::Mode::Reload: break;
    }

    setVerboseErrors(request.verbose);
    registerDbusTypes();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const unsigned uid = ::getuid();
        writeLine(stderr,
                  noSessionBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), bus.lastError(), uid,
                               QFile::exists(QStringLiteral("/run/user/%1/bus").arg(uid))));
        return kExitCallFailed;
    }
    switch (request.mode) {
    case Request::Mode::Ports: return runPorts(bus, request.timeoutMs);
    case Request::Mode::Monitor: return monitor(app, bus, request);
    case Request::Mode::History: return runHistory(bus, request.history, request.timeoutMs);
    case Request::Mode::Probe: return runProbe(bus, request);
    case Request::Mode::Reload: return reload(bus, request.timeoutMs);
    default: return request.watchMs > 0 ? watch(app, bus, request) : callOnce(bus, request);
    }
}
