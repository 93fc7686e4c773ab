#include "Monitor.h"

#include "BusErrors.h"
#include "LocalProgram.h"
#include "api/BusNames.h"
#include "api/Diagnostics.h"
#include "common/Capture.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

namespace quorvex::cli {

QDBusMessage diagnosticsCall(const QString &method, ServerStart start)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(kServiceName), QLatin1String(kObjectPath),
                                                          QLatin1String(kDiagnosticsInterface), method);
    message.setAutoStartService(start == ServerStart::ByActivation);
    return message;
}

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

// How the instrument on a port has been answering: "answering", "silent N"
// (exchanges in a row that heard nothing), or "-" before any exchange.
QString lineHealth(const QVariantMap &port)
{
    const int silent = port.value(QStringLiteral("silentExchanges")).toInt();
    if (silent > 0)
        return QStringLiteral("silent %1").arg(silent);
    return port.value(QStringLiteral("lastReply")).toLongLong() > 0 ? QStringLiteral("answering") : QStringLiteral("-");
}

QString lastReply(const QVariantMap &port)
{
    const qint64 ms = port.value(QStringLiteral("lastReply")).toLongLong();
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")) : QStringLiteral("-");
}

// The roles bound to a port, "-" for none (a port only direct calls use).
QString roles(const QVariantMap &port)
{
    const QStringList names = port.value(QStringLiteral("roles")).toStringList();
    return names.isEmpty() ? QStringLiteral("-") : names.join(QLatin1Char(','));
}

QString formatPorts(const QList<QVariantMap> &ports)
{
    QString out;
    QTextStream stream(&out);
    stream << QStringLiteral(
        "PORT  STATE   SETTINGS        BYTES IN  BYTES OUT  LINE        LAST REPLY  ROLES       DEVICE\n");
    for (const QVariantMap &port : ports) {
        QStringList errors;
        for (const char *key : {"error", "lastExchangeError"}) {
            const QString error = port.value(QLatin1String(key)).toString();
            if (!error.isEmpty() && !errors.contains(error))
                errors << error;
        }
        stream << QStringLiteral("%1").arg(port.value(QStringLiteral("number")).toInt(), 4) << QStringLiteral("  ")
               << (port.value(QStringLiteral("open")).toBool() ? QStringLiteral("open  ") : QStringLiteral("closed"))
               << QStringLiteral("  ") << port.value(QStringLiteral("settings")).toString().leftJustified(14)
               << QStringLiteral("%1").arg(port.value(QStringLiteral("bytesIn")).toULongLong(), 10)
               << QStringLiteral("%1").arg(port.value(QStringLiteral("bytesOut")).toULongLong(), 11)
               << QStringLiteral("  ") << lineHealth(port).leftJustified(10) << QStringLiteral("  ")
               << lastReply(port).leftJustified(10) << QStringLiteral("  ") << roles(port).leftJustified(10)
               << QStringLiteral("  ") << port.value(QStringLiteral("device")).toString();
        if (!errors.isEmpty())
            stream << QStringLiteral("  (") << errors.join(QStringLiteral("; ")) << QLatin1Char(')');
        stream << QLatin1Char('\n');
    }
    return out;
}

// Each configured role's instrument: its state, its readings, and the median
// time of its exchanges next to the time their bytes take on the wire.
QString formatInstruments(const QList<QVariantMap> &roles)
{
    if (roles.isEmpty())
        return QStringLiteral("no role is configured\n");
    QString out;
    QTextStream stream(&out);
    stream << QStringLiteral("ROLE        STATE         PORT  READINGS  FAILED  EXCHANGE    WIRE        MODEL\n");
    const auto ms = [](const QVariantMap &role, const char *key) {
        return role.contains(QLatin1String(key))
            ? QStringLiteral("%1 ms").arg(role.value(QLatin1String(key)).toDouble(), 0, 'f', 1)
            : QStringLiteral("-");
    };
    for (const QVariantMap &role : roles) {
        const int port = role.value(QStringLiteral("port")).toInt();
        stream << role.value(QStringLiteral("role")).toString().leftJustified(10) << QStringLiteral("  ")
               << role.value(QStringLiteral("state")).toString().leftJustified(12) << QStringLiteral("  ")
               << (port > 0 ? QString::number(port) : QStringLiteral("-")).rightJustified(4)
               << QStringLiteral("%1").arg(role.value(QStringLiteral("readings")).toULongLong(), 10)
               << QStringLiteral("%1").arg(role.value(QStringLiteral("failedReadings")).toULongLong(), 8)
               << QStringLiteral("  ") << ms(role, "exchangeMs").leftJustified(10) << QStringLiteral("  ")
               << ms(role, "wireMs").leftJustified(10) << QStringLiteral("  ")
               << (role.value(QStringLiteral("brand")).toString() + QLatin1Char(' ')
                   + role.value(QStringLiteral("model")).toString())
                      .trimmed();
        const QString error = role.value(QStringLiteral("lastError")).toString();
        if (!error.isEmpty())
            stream << QStringLiteral("  (") << error << QLatin1Char(')');
        stream << QLatin1Char('\n');
    }
    return out;
}

// One line on the plant feed's link to the MQTT broker.
QString formatFeed(const QVariantMap &feed)
{
    const QString state = feed.value(QStringLiteral("state")).toString();
    if (state.isEmpty() || state == QLatin1String("off"))
        return QStringLiteral("Plant feed: off (no Server in [Impianto])\n");
    QString line = QStringLiteral("Plant feed: %1, broker %2:%3%4, line %5; %6 coil records unsent")
                       .arg(state, feed.value(QStringLiteral("server")).toString())
                       .arg(feed.value(QStringLiteral("port")).toInt())
                       .arg(feed.value(QStringLiteral("tls")).toBool() ? QStringLiteral(" (TLS)") : QString(),
                            feed.value(QStringLiteral("line")).toString())
                       .arg(feed.value(QStringLiteral("unsent")).toInt());
    const QString problem = feed.value(QStringLiteral("problem")).toString();
    if (!problem.isEmpty())
        line += QStringLiteral("\n  not connected: ") + problem;
    return line + QLatin1Char('\n');
}

// One line on the Modbus TCP face, and one per connected client.
QString formatModbusFace(const QVariantMap &face)
{
    const QString state = face.value(QStringLiteral("state")).toString();
    if (state.isEmpty() || state == QLatin1String("off"))
        return QStringLiteral("Modbus TCP: off (no Porta in [ModbusTCP])\n");
    const QString where = QStringLiteral("%1 port %2, unit %3")
                              .arg(face.value(QStringLiteral("address")).toString())
                              .arg(face.value(QStringLiteral("port")).toInt())
                              .arg(face.value(QStringLiteral("unit")).toInt());
    if (state != QLatin1String("listening"))
        return QStringLiteral("Modbus TCP: not listening on %1: %2\n")
            .arg(where, face.value(QStringLiteral("problem")).toString());
    const QStringList clients = face.value(QStringLiteral("clients")).toStringList();
    QString out =
        QStringLiteral("Modbus TCP: listening on %1%2; %3 client(s)\n")
            .arg(where,
                 face.value(QStringLiteral("writable")).toBool() ? QStringLiteral(", coil 0 writable") : QString())
            .arg(clients.size());
    for (const QString &client : clients)
        out += QStringLiteral("  client %1\n").arg(client);
    return out;
}

// The OPC UA face: its endpoint, certificate and sessions.
QString formatOpcuaFace(const QVariantMap &face)
{
    const QString state = face.value(QStringLiteral("state")).toString();
    if (state.isEmpty() || state == QLatin1String("off"))
        return QStringLiteral("OPC UA: off (no Porta in [OPCUA])\n");
    const QString endpoint = face.value(QStringLiteral("endpoint")).toString();
    if (state != QLatin1String("listening"))
        return QStringLiteral("OPC UA: not listening on %1: %2\n")
            .arg(endpoint, face.value(QStringLiteral("problem")).toString());
    const QStringList sessions = face.value(QStringLiteral("sessions")).toStringList();
    const QString user = face.value(QStringLiteral("user")).toString();
    QString out = QStringLiteral("OPC UA: listening on %1, security %2, %3; %4 session(s)\n")
                      .arg(endpoint, face.value(QStringLiteral("security")).toString(),
                           !face.value(QStringLiteral("writable")).toBool() ? QStringLiteral("read only")
                               : user.isEmpty() ? QStringLiteral("AzzeraLunghezza allowed")
                                                : QStringLiteral("AzzeraLunghezza allowed to %1").arg(user))
                      .arg(sessions.size());
    out += QStringLiteral("  certificate %1, thumbprint %2\n")
               .arg(face.value(QStringLiteral("certificate")).toString(),
                    face.value(QStringLiteral("thumbprint")).toString());
    for (const QString &session : sessions)
        out += QStringLiteral("  session %1\n").arg(session);
    for (const QString &peer : face.value(QStringLiteral("connections")).toStringList())
        out += QStringLiteral("  client %1\n").arg(peer);
    return out;
}

int runPorts(QDBusConnection &bus, int timeoutMs)
{
    const QDBusMessage reply = bus.call(diagnosticsCall(QStringLiteral("Ports")), QDBus::Block, timeoutMs);
    int status = 0;
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const auto ports = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
        std::printf("Ports of the server:\n%s\n", qPrintable(formatPorts(ports)));
        const auto roles = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(1));
        std::printf("Instruments:\n%s\n", qPrintable(formatInstruments(roles)));
    } else {
        const bool noServer = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
        const QString why =
            noServer ? noServerRunning() : callFailure(reply, timeoutMs, QStringLiteral("the server's ports"));
        std::fprintf(stderr, "%s\n", qPrintable(why));
        status = 1;
    }
    const QDBusMessage feed = bus.call(diagnosticsCall(QStringLiteral("Feed")), QDBus::Block, timeoutMs);
    if (feed.type() == QDBusMessage::ReplyMessage)
        std::printf("%s\n", qPrintable(formatFeed(qdbus_cast<QVariantMap>(feed.arguments().value(0)))));
    const QDBusMessage face = bus.call(diagnosticsCall(QStringLiteral("ModbusTCP")), QDBus::Block, timeoutMs);
    if (face.type() == QDBusMessage::ReplyMessage)
        std::printf("%s\n", qPrintable(formatModbusFace(qdbus_cast<QVariantMap>(face.arguments().value(0)))));
    const QDBusMessage opcua = bus.call(diagnosticsCall(QStringLiteral("OPCUA")), QDBus::Block, timeoutMs);
    if (opcua.type() == QDBusMessage::ReplyMessage)
        std::printf("%s\n", qPrintable(formatOpcuaFace(qdbus_cast<QVariantMap>(opcua.arguments().value(0)))));
    std::printf("Serial devices present:\n");
    if (runLocalProgram({QStringLiteral("devices")}) != 0)
        status = 1;
    return status;
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

} // namespace quorvex::cli
