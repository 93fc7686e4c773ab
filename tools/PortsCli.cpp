#include "PortsCli.h"

#include "BusErrors.h"
#include "LocalProgram.h"
#include "Monitor.h"
#include "line/PublishedValues.h"

#include <QDBusArgument>
#include <QDateTime>
#include <QTextStream>
#include <cstdio>

namespace quorvex::cli {

namespace {

// How the instrument on a port has been answering: "answering", "silent N"
// (exchanges in a row that heard nothing), or "-" before any exchange.
QString lineHealth(const QVariantMap &port)
{
    if (!port.value(QStringLiteral("open")).toBool())
        return QStringLiteral("-");
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

// "open", "closed", or "gone" for a closed port whose device is not there.
QString portState(const QVariantMap &port)
{
    if (port.value(QStringLiteral("open")).toBool())
        return QStringLiteral("open  ");
    const bool gone = !port.value(QStringLiteral("device")).toString().isEmpty()
        && port.contains(QStringLiteral("present")) && !port.value(QStringLiteral("present")).toBool();
    return gone ? QStringLiteral("gone  ") : QStringLiteral("closed");
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
    const auto ms = [](const QVariantMap &role, Value value) {
        return role.contains(dbusKey(value))
            ? QStringLiteral("%1 ms").arg(role.value(dbusKey(value)).toDouble(), 0, 'f', 1)
            : QStringLiteral("-");
    };
    for (const QVariantMap &role : roles) {
        const int port = role.value(dbusKey(Value::Porta)).toInt();
        stream << role.value(dbusKey(Value::Ruolo)).toString().leftJustified(10) << QStringLiteral("  ")
               << role.value(dbusKey(Value::Stato)).toString().leftJustified(12) << QStringLiteral("  ")
               << (port > 0 ? QString::number(port) : QStringLiteral("-")).rightJustified(4)
               << QStringLiteral("%1").arg(role.value(dbusKey(Value::Letture)).toULongLong(), 10)
               << QStringLiteral("%1").arg(role.value(dbusKey(Value::LettureFallite)).toULongLong(), 8)
               << QStringLiteral("  ") << ms(role, Value::TempoScambio).leftJustified(10) << QStringLiteral("  ")
               << ms(role, Value::TempoSuLinea).leftJustified(10) << QStringLiteral("  ")
               << (role.value(dbusKey(Value::Marca)).toString() + QLatin1Char(' ')
                   + role.value(dbusKey(Value::Modello)).toString())
                      .trimmed();
        const QString error = role.value(dbusKey(Value::UltimoErrore)).toString();
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
    line += QLatin1Char('\n');
    const QVariant nodeValue = feed.value(QStringLiteral("sparkplug"));
    const QVariantMap node = nodeValue.userType() == qMetaTypeId<QDBusArgument>()
        ? qdbus_cast<QVariantMap>(nodeValue.value<QDBusArgument>())
        : nodeValue.toMap();
    const QString nodeState = node.value(QStringLiteral("state")).toString();
    if (nodeState.isEmpty() || nodeState == QLatin1String("off"))
        return line;
    line += QStringLiteral("Sparkplug B: %1, broker %2, group %3, bdSeq %4\n")
                .arg(nodeState, node.value(QStringLiteral("server")).toString(),
                     node.value(QStringLiteral("group")).toString())
                .arg(node.value(QStringLiteral("bdSeq")).toInt());
    const QString nodeProblem = node.value(QStringLiteral("problem")).toString();
    if (!nodeProblem.isEmpty())
        line += QStringLiteral("  ") + nodeProblem + QLatin1Char('\n');
    return line;
}

// One line on the Modbus TCP face, naming its connected clients.
QString formatModbusFace(const QVariantMap &face)
{
    const QString state = face.value(QStringLiteral("state")).toString();
    if (state.isEmpty() || state == QLatin1String("off"))
        return QStringLiteral("Modbus TCP: off (no Porta in [ModbusTCP])\n");
    const QString problem = face.value(QStringLiteral("problem")).toString();
    if (face.value(QStringLiteral("port")).toInt() == 0)
        return QStringLiteral("Modbus TCP: not listening: %1\n").arg(problem);
    const QString where = QStringLiteral("%1 port %2, unit %3")
                              .arg(face.value(QStringLiteral("address")).toString())
                              .arg(face.value(QStringLiteral("port")).toInt())
                              .arg(face.value(QStringLiteral("unit")).toInt());
    if (state != QLatin1String("listening"))
        return QStringLiteral("Modbus TCP: not listening on %1: %2\n").arg(where, problem);
    const QStringList clients = face.value(QStringLiteral("clients")).toStringList();
    const QString who = clients.isEmpty() ? QStringLiteral("no client connected")
        : clients.size() == 1             ? QStringLiteral("client %1").arg(clients.front())
                                          : QStringLiteral("clients %1").arg(clients.join(QStringLiteral(", ")));
    return QStringLiteral("Modbus TCP: listening on %1%2; %3\n")
        .arg(where, face.value(QStringLiteral("writable")).toBool() ? QStringLiteral(", coil 0 writable") : QString(),
             who);
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


} // namespace

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
               << portState(port) << QStringLiteral("  ")
               << port.value(QStringLiteral("settings")).toString().leftJustified(14)
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

int runPorts(Session &session, const Request &request)
{
    QDBusConnection &bus = session.bus;
    const int timeoutMs = request.timeoutMs;
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

} // namespace quorvex::cli
