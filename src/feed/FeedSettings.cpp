#include "feed/FeedSettings.h"

#include "common/Logging.h"
#include "line/Conversions.h"
#include "line/SettingsReader.h"

#include <QCoreApplication>
#include <QSysInfo>

namespace quorvex {

namespace {

using namespace settings;

QString text(const SettingsSnapshot &store, const char *key)
{
    QString value;
    readInto(store, Impianto, key, value, asText);
    return value.trimmed();
}

// A topic level may not hold "/" (it would add levels) nor the wildcards.
QString topicLevel(const QString &name, const char *key)
{
    QString level = name;
    for (QChar c : {QLatin1Char('/'), QLatin1Char('+'), QLatin1Char('#')})
        level.replace(c, QLatin1Char('_'));
    if (level != name)
        qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2=%3 holds characters a topic level cannot: %4 is used")
                                             .arg(QLatin1String(Impianto), QLatin1String(key), quotedForLog(name),
                                                  quotedForLog(level));
    return level;
}

// One "host[:port]" entry; nullopt when its port is not one.
std::optional<MqttBroker> parseBroker(const QString &entry, int defaultPort)
{
    QString host = entry;
    QString port;
    if (entry.startsWith(QLatin1Char('['))) {
        const qsizetype close = entry.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = entry.mid(1, close - 1);
        const QString rest = entry.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return std::nullopt;
        port = rest.mid(1);
    } else if (entry.count(QLatin1Char(':')) == 1) { // more than one: an IPv6 address
        host = entry.section(QLatin1Char(':'), 0, 0);
        port = entry.section(QLatin1Char(':'), 1);
    }
    MqttBroker broker{host.trimmed(), defaultPort};
    if (!port.isNull()) {
        const std::optional<int> number = wholeNumberIn(1, 65535)(port);
        if (!number)
            return std::nullopt;
        broker.port = *number;
    }
    if (broker.host.isEmpty())
        return std::nullopt;
    return broker;
}

} // namespace

QList<MqttBroker> parseBrokers(const QString &text, int defaultPort, QStringList *problems)
{
    QList<MqttBroker> brokers;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        if (const std::optional<MqttBroker> broker = parseBroker(entry, defaultPort))
            brokers.append(*broker);
        else if (problems)
            problems->append(entry);
    }
    return brokers;
}

QList<MqttBroker> FeedSettings::brokers() const
{
    return parseBrokers(server, port);
}

MqttEndpoint FeedSettings::endpoint(const QString &clientSuffix, const QString &label) const
{
    MqttEndpoint endpoint;
    endpoint.brokers = brokers();
    endpoint.user = user;
    endpoint.passwordFile = passwordFile;
    endpoint.caFile = caFile;
    endpoint.keepaliveSeconds = keepaliveSeconds;
    endpoint.clientId =
        QStringLiteral("quorvex-%1-%2%3").arg(line).arg(QCoreApplication::applicationPid()).arg(clientSuffix).toUtf8();
    endpoint.label = label;
    return endpoint;
}

FeedSettings readFeedSettings(const SettingsSnapshot &store)
{
    FeedSettings s;
    s.server = text(store, Server);
    s.port = boundedNumber(store, Impianto, Porta, 1, 65535);
    QStringList problems;
    const QList<MqttBroker> brokers = parseBrokers(s.server, s.port, &problems);
    for (const QString &entry : std::as_const(problems))
        qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2=%3: %4 is not host[:port] (port 1 to 65535): left out")
                                             .arg(QLatin1String(Impianto), QLatin1String(Server), quotedForLog(s.server),
                                                  quotedForLog(entry));
    if (brokers.isEmpty() && !s.server.isEmpty()) {
        qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2=%3 names no broker: the plant feed is off")
                                             .arg(QLatin1String(Impianto), QLatin1String(Server), quotedForLog(s.server));
        s.server.clear();
    }
    const QString line = text(store, Linea);
    s.line = topicLevel(line.isEmpty() ? QSysInfo::machineHostName() : line, Linea);
    if (s.line.isEmpty())
        s.line = QStringLiteral("linea");
    s.user = text(store, Utente);
    s.passwordFile = text(store, FilePassword);
    s.caFile = text(store, FileCA);
    // The library takes 5 s at least; a long interval still sees a dead
    // link within its keep-alive.
    s.keepaliveSeconds = boundedNumber(store, Impianto, Keepalive, 5, 65535);
    readInto(store, Impianto, Sparkplug, s.sparkplug, toBoolean,
             QStringLiteral("is neither a number nor true or false"));
    const QString group = text(store, Gruppo);
    if (!group.isEmpty())
        s.group = topicLevel(group, Gruppo);
    const QString host = text(store, HostPrimario);
    if (!host.isEmpty())
        s.primaryHost = topicLevel(host, HostPrimario);
    if (s.enabled())
        qCInfo(lcConfig).noquote()
            << QStringLiteral("%1: broker %2:%3%4, topics %5")
                   .arg(QLatin1String(Impianto), s.server)
                   .arg(s.port)
                   .arg(s.caFile.isEmpty() ? QString() : QStringLiteral(" (TLS)"), s.topicPrefix())
            << (s.sparkplug ? QStringLiteral(", Sparkplug B spBv1.0/%1/+/%2%3")
                                  .arg(s.group, s.line,
                                       s.primaryHost.isEmpty()
                                           ? QString()
                                           : QStringLiteral(" for primary host %1").arg(s.primaryHost))
                            : QString());
    return s;
}

} // namespace quorvex
