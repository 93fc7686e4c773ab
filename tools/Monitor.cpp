#include "Monitor.h"

#include "BusErrors.h"
#include "Output.h"
#include "StopSignals.h"
#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/Capture.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace quorvex::cli {

namespace {

constexpr int kBytesPerLine = 16;

QString localTime(quint64 us)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(qint64(us / 1000));
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("%1").arg(us % 1000, 3, 10, QLatin1Char('0'));
}

QString hexAndText(const QByteArray &bytes)
{
    QString hex;
    QString text;
    for (const char c : bytes) {
        const auto byte = uchar(c);
        hex += QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0'));
        text += byte >= 0x20 && byte < 0x7f ? QChar(QLatin1Char(c)) : QLatin1Char('.');
    }
    return hex.leftJustified(kBytesPerLine * 3) + QLatin1Char(' ') + text;
}

QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

QString errorText(const QDBusMessage &reply)
{
    return QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage());
}

} // namespace

QString formatTraffic(const TrafficChunk &chunk)
{
    const QString port = chunk.port >= 0 ? QStringLiteral("port %1").arg(chunk.port) : chunk.device;
    const QString head = QStringLiteral("%1  %2  %3  ")
                             .arg(localTime(chunk.timestampUs), port.leftJustified(7),
                                  chunk.sent ? QStringLiteral("TX") : QStringLiteral("RX"));
    QStringList lines;
    for (qsizetype at = 0; at < chunk.bytes.size(); at += kBytesPerLine) {
        const QString prefix = at == 0 ? head : QString(head.size(), QLatin1Char(' '));
        QString line = prefix + hexAndText(chunk.bytes.mid(at, kBytesPerLine));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

bool matchesPort(const QString &filter, const TrafficChunk &chunk)
{
    if (filter.isEmpty())
        return true;
    bool number = false;
    const int port = filter.toInt(&number);
    if (number)
        return port == chunk.port;
    return filter == chunk.device || canonical(filter) == canonical(chunk.device);
}

bool matchesAnyPort(const QStringList &filters, const TrafficChunk &chunk)
{
    return filters.isEmpty()
        || std::any_of(filters.begin(), filters.end(), [&](const QString &f) { return matchesPort(f, chunk); });
}

QByteArray captureLine(const TrafficChunk &chunk)
{
    capture::Chunk line;
    line.timeUs = chunk.timestampUs;
    line.port = chunk.port;
    line.device = chunk.device.toStdString();
    line.settings = chunk.settings.isEmpty() ? std::string("-") : chunk.settings.toStdString();
    line.sent = chunk.sent;
    line.bytes = chunk.bytes.toStdString();
    return QByteArray::fromStdString(capture::formatChunk(line));
}

TrafficMonitor::TrafficMonitor(QDBusConnection bus, QStringList filters, Sink out, Print note, QObject *parent)
        : QObject(parent), m_bus(bus), m_filters(std::move(filters)), m_out(std::move(out)), m_note(std::move(note))
{}

bool TrafficMonitor::start()
{
    if (!m_bus.connect(QLatin1String(kServiceName), QLatin1String(kObjectPath), QLatin1String(kDiagnosticsInterface),
                       QStringLiteral("Traffic"), this, SLOT(onTraffic(QDBusMessage))))
        return false;
    // Watched before looking, so a server that appears in between is seen.
    auto *watcher = new QDBusServiceWatcher(
        QLatin1String(kServiceName), m_bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrafficMonitor::askForTraffic);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { m_note(QStringLiteral("the server has ended; waiting for it to start again")); });
    if (m_bus.interface()->isServiceRegistered(QLatin1String(kServiceName)))
        askForTraffic();
    else
        m_note(QStringLiteral("the server is not running; waiting for it to start"));
    return true;
}

// The line settings of every port, for the chunks to carry.
void TrafficMonitor::learnSettings()
{
    const QDBusMessage reply = m_bus.call(diagnosticsCall(QStringLiteral("Ports")), QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return;
    for (const QVariantMap &port : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
        m_settings.insert(port.value(QStringLiteral("number")).toInt(),
                          port.value(QStringLiteral("settings")).toString());
}

void TrafficMonitor::askForTraffic()
{
    learnSettings();
    auto *call = new QDBusPendingCallWatcher(m_bus.asyncCall(diagnosticsCall(QStringLiteral("Watch"))), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call] {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            m_note(QStringLiteral("watching the traffic of %1 (Ctrl-C to stop)")
                       .arg(m_filters.isEmpty() ? QStringLiteral("every port") : m_filters.join(QStringLiteral(", "))));
        else
            m_note(QStringLiteral("the server refused to be watched: ") + errorText(reply));
    });
}

void TrafficMonitor::onTraffic(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() != 5)
        return;
    TrafficChunk chunk;
    chunk.port = args.at(0).toInt();
    chunk.device = args.at(1).toString();
    chunk.timestampUs = args.at(2).toULongLong();
    chunk.sent = args.at(3).toString() == QLatin1String("sent");
    chunk.bytes = args.at(4).toByteArray();
    if (!matchesAnyPort(m_filters, chunk))
        return;
    if (chunk.port >= 0 && !m_settings.contains(chunk.port)) {
        learnSettings(); // a port made since the last look
        m_settings.insert(chunk.port, m_settings.value(chunk.port)); // asked once
    }
    chunk.settings = m_settings.value(chunk.port);
    m_out(chunk);
}

bool readCaptureWords(Request &request, const QStringList &words)
{
    if (!words.contains(QLatin1String("--save")))
        return false;
    for (qsizetype i = 1; i < words.size(); ++i) {
        if (words[i] == QLatin1String("--save")) {
            if (i + 1 >= words.size() || !request.savePath.isEmpty())
                throw UsageError(QStringLiteral("--save takes one file name"));
            request.savePath = words[++i];
        } else if (words[i].startsWith(QLatin1String("--"))) {
            throw UsageError(QStringLiteral("unknown option '%1' of monitor").arg(words[i]));
        } else {
            request.monitorPorts << words[i];
        }
    }
    if (request.savePath.isEmpty())
        throw UsageError(QStringLiteral("--save takes one file name"));
    request.monitorPort = request.monitorPorts.value(0);
    return true;
}

void readMonitorArguments(Request &request, const QStringList &words)
{
    if (words.size() > 2)
        throw UsageError(QStringLiteral("monitor takes at most one port (a number or a device path)"));
    request.monitorPort = words.value(1);
}

int runMonitor(Session &session, const Request &request)
{
    QCoreApplication &app = session.app;
    QDBusConnection &bus = session.bus;
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

} // namespace quorvex::cli
