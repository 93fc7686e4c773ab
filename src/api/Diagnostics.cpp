#include "api/Diagnostics.h"

#include "api/BusNames.h"
#include "common/KeepAlive.h"
#include "common/WallClock.h"
#include "line/Line.h"
#include "line/Probe.h"

#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <climits>

namespace quorvex {

namespace {

using PortList = QList<QVariantMap>;

// What Ports() says about one port object.
QVariantMap describePort(int number, const PortControl &port)
{
    return {
        {QStringLiteral("number"), number},
        {QStringLiteral("device"), port.devicePath()},
        {QStringLiteral("settings"), port.Settings()},
        {QStringLiteral("open"), port.PortOpen()},
        {QStringLiteral("present"), port.deviceThere()},
        {QStringLiteral("error"), port.lastErrorText()},
        {QStringLiteral("bytesIn"), QVariant::fromValue(qulonglong(port.bytesReceived()))},
        {QStringLiteral("bytesOut"), QVariant::fromValue(qulonglong(port.bytesSent()))},
        {QStringLiteral("silentExchanges"), port.health().silentExchanges},
        {QStringLiteral("lastReply"),
         port.health().lastReply.isValid() ? QVariant::fromValue(qlonglong(port.health().lastReply.toMSecsSinceEpoch()))
                                           : QVariant::fromValue(qlonglong(0))},
        {QStringLiteral("lastExchangeError"), port.health().lastError},
        {QStringLiteral("roles"), port.roles()},
    };
}

} // namespace

Diagnostics::Diagnostics(Line &line, QDBusConnection connection, const GlobalServices *services, QObject *parent)
        : QObject(parent), m_line(line), m_services(services), m_connection(connection),
          m_watcher(new QDBusServiceWatcher(this))
{
    qDBusRegisterMetaType<PortList>();
    m_watcher->setConnection(m_connection);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &Diagnostics::clientGone);
}

Diagnostics::~Diagnostics()
{
    if (!m_watches.isEmpty())
        PortControl::setTrafficTap({});
}

// A method of the interface is an entry in its interface file plus one
// handler here; its signature is checked before the handler runs.
void Diagnostics::serveOn(Dispatch &dispatch)
{
    const QString interface = QLatin1String(kDiagnosticsInterface);
    dispatch.add(interface, QStringLiteral("Ports"), [this](QDBusMessage m) { return replyNow(portsReply(m)); });
    dispatch.add(interface, QStringLiteral("Feed"), [this](QDBusMessage m) { return replyNow(feedReply(m)); });
    dispatch.add(interface, QStringLiteral("ModbusTCP"), [this](QDBusMessage m) {
        const QVariantMap off{{QStringLiteral("state"), QStringLiteral("off")}};
        const bool known = m_services && m_services->modbusStatus;
        return replyNow(m.createReply(QVariant::fromValue(known ? m_services->modbusStatus() : off)));
    });
    dispatch.add(interface, QStringLiteral("OPCUA"), [this](QDBusMessage m) {
        const QVariantMap off{{QStringLiteral("state"), QStringLiteral("off")}};
        const bool known = m_services && m_services->opcuaStatus;
        return replyNow(m.createReply(QVariant::fromValue(known ? m_services->opcuaStatus() : off)));
    });
    dispatch.add(interface, QStringLiteral("Watch"), [this](QDBusMessage m) {
        watch(m.service());
        return replyNow(m.createReply());
    });
    dispatch.add(interface, QStringLiteral("Unwatch"), [this](QDBusMessage m) {
        unwatch(m.service());
        return replyNow(m.createReply());
    });
    dispatch.add(interface, QStringLiteral("Probe"), [this](QDBusMessage m) { return probe(std::move(m)); });
    dispatch.add(interface, QStringLiteral("Reload"), [this](QDBusMessage m) { return replyNow(reload(m)); });
    // Read runs as the caller's Global instance: the D-Bus binding serves it.
}

QDBusMessage Diagnostics::reload(const QDBusMessage &message)
{
    const QStringList warnings =
        m_line.reloadConfiguration(QStringLiteral("Diagnostics.Reload from %1").arg(message.service()));
    return message.createReply(warnings);
}

QDBusMessage Diagnostics::portsReply(const QDBusMessage &message) const
{
    PortList ports;
    if (const PortHost *host = m_line.portHost()) {
        // Element 0 is only the template of new port objects, no port.
        for (const auto &[number, port] : host->elements()) {
            if (number > 0)
                ports.append(describePort(number, *port));
        }
    }
    PortList instruments;
    for (const RoleHealth &role : m_line.health())
        instruments.append(role.toMap());
    return message.createReply(QVariantList{QVariant::fromValue(ports), QVariant::fromValue(instruments)});
}

QDBusMessage Diagnostics::feedReply(const QDBusMessage &message) const
{
    const QVariantMap off{{QStringLiteral("state"), QStringLiteral("off")}};
    const bool known = m_services && m_services->feedStatus;
    return message.createReply(QVariant::fromValue(known ? m_services->feedStatus() : off));
}

void Diagnostics::watch(const QString &client)
{
    int &count = m_watches[client];
    if (count == 0)
        m_watcher->addWatchedService(client);
    if (count < INT_MAX)
        ++count;
    updateTap();
}

void Diagnostics::unwatch(const QString &client)
{
    const auto it = m_watches.find(client);
    if (it == m_watches.end())
        return;
    if (--*it == 0)
        clientGone(client);
}

void Diagnostics::clientGone(const QString &client)
{
    m_watcher->removeWatchedService(client);
    m_watches.remove(client);
    updateTap();
}

void Diagnostics::updateTap()
{
    if (m_watches.isEmpty()) {
        PortControl::setTrafficTap({});
        return;
    }
    PortControl::setTrafficTap([this](const PortControl &port, PortControl::Direction direction,
                                      const QByteArray &bytes) { sendTraffic(port, direction, bytes); });
}

void Diagnostics::sendTraffic(const PortControl &port, PortControl::Direction direction, const QByteArray &bytes)
{
    // A port of the host by its number; any other is a device opened for
    // one call.
    int number = -1;
    if (const PortHost *host = m_line.portHost()) {
        for (const auto &[n, element] : host->elements()) {
            if (element.get() == &port)
                number = n;
        }
    }
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath), QLatin1String(kDiagnosticsInterface),
                                                     QStringLiteral("Traffic"));
    signal << number << port.devicePath() << QVariant::fromValue(qulonglong(microsecondsSinceEpoch()))
           << (direction == PortControl::Direction::Sent ? QStringLiteral("sent") : QStringLiteral("received"))
           << bytes;
    m_connection.send(signal);
}

QCoro::Task<QDBusMessage> Diagnostics::probe(QDBusMessage message)
{
    const KeepAliveToken inFlight = KeepAliveToken::take();
    const QString device = message.arguments().value(0).toString();
    const QString role = message.arguments().value(1).toString();
    QPointer<Diagnostics> self(this);
    const auto progress = [self, device](const ProbeStep &step) {
        if (!self)
            return;
        QDBusMessage signal = QDBusMessage::createSignal(
            QLatin1String(kObjectPath), QLatin1String(kDiagnosticsInterface), QStringLiteral("ProbeProgress"));
        signal << device << step.brand << step.model << step.settings << uint(step.number) << uint(step.total);
        self->m_connection.send(signal);
    };
    QDBusMessage reply;
    try {
        const ProbeFindings findings = co_await probePort(m_line, device, role, progress);
        PortList results;
        if (!findings.unmatched.isEmpty())
            results.append({{QStringLiteral("heard"), findings.unmatched.left(64)},
                            {QStringLiteral("settings"), findings.unmatchedSettings}});
        for (const ProbeResult &result : findings.found)
            results.append({{QStringLiteral("brand"), result.brand},
                            {QStringLiteral("model"), result.model},
                            {QStringLiteral("settings"), result.settings},
                            {QStringLiteral("operation"), result.operation},
                            {QStringLiteral("value"), result.value},
                            {QStringLiteral("replies"), result.replies}});
        reply = message.createReply(QVariant::fromValue(results));
    } catch (const AutomationError &error) {
        reply = message.createErrorReply(QLatin1String(kErrorPrefix) + QLatin1String(errorKindName(error.kind())),
                                         QStringLiteral("%1: %2").arg(error.number()).arg(error.text()));
    }
    co_return reply;
}

} // namespace quorvex
