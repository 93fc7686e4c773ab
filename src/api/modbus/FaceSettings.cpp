#include "api/modbus/FaceSettings.h"

#include "line/Conversions.h"
#include "line/SettingsReader.h"

#include <algorithm>

namespace quorvex {

namespace {

using namespace settings;

std::optional<QHostAddress> hostAddress(const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text.trimmed()))
        return std::nullopt;
    return address;
}

// One address of an IPv4 peer may arrive as ::ffff:a.b.c.d on a dual-stack socket.
QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

} // namespace

bool ModbusFaceSettings::allows(const QHostAddress &peer) const
{
    if (clients.isEmpty())
        return true;
    const QHostAddress p = plain(peer);
    return std::any_of(clients.begin(), clients.end(), [&p](const QHostAddress &a) { return plain(a) == p; });
}

ModbusFaceSettings readModbusFaceSettings(const SettingsSnapshot &store)
{
    ModbusFaceSettings s;
    const std::optional<QString> porta = store.value(QLatin1String(ModbusTCP), QLatin1String(Porta));
    if (porta && !porta->trimmed().isEmpty()) {
        if (const std::optional<int> port = wholeNumberIn(1, 65535)(*porta)) {
            s.port = *port;
        } else {
            s.problem = QStringLiteral("[%1] %2=%3 %4")
                            .arg(QLatin1String(ModbusTCP), QLatin1String(Porta), quotedForLog(*porta),
                                 wholeNumberProblem(1, 65535));
            qCWarning(lcConfig).noquote() << s.problem
                    + QStringLiteral(": the Modbus TCP face does not listen until it is corrected; "
                                     "the server keeps running for it");
        }
    }
    QString address = s.address.toString();
    const auto addressText = [](const QString &text) -> std::optional<QString> {
        return hostAddress(text) ? std::optional<QString>(text.trimmed()) : std::nullopt;
    };
    readInto(store, ModbusTCP, Indirizzo, address, addressText, QStringLiteral("is not an IP address"));
    s.address = QHostAddress(address);
    s.unit = boundedNumber(store, ModbusTCP, Unita, 1, 247);
    s.intervalMs = boundedNumber(store, ModbusTCP, Intervallo, 0, 3600000);
    QString clients;
    readInto(store, ModbusTCP, Client, clients, asText);
    for (const QString &part : clients.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (const std::optional<QHostAddress> address = hostAddress(part))
            s.clients << *address;
        else if (!part.trimmed().isEmpty())
            qCWarning(lcConfig).noquote()
                << QStringLiteral("[%1] %2: %3 is not an IP address and allows nobody")
                       .arg(QLatin1String(ModbusTCP), QLatin1String(Client), quotedForLog(part));
    }
    // A list of nothing but bad addresses allows nobody rather than everybody.
    if (s.clients.isEmpty() && !clients.trimmed().isEmpty())
        s.clients << QHostAddress(QHostAddress::Null);
    readInto(store, ModbusTCP, Scrittura, s.writable, toBoolean, QStringLiteral("is not 0 or 1"));
    s.maxClients = boundedNumber(store, ModbusTCP, MaxClient, 1, 1024);
    s.idleSeconds = boundedNumber(store, ModbusTCP, Inattivo, 0, 86400);
    // What was read; the face says "listening" once it does.
    if (s.enabled())
        qCInfo(lcConfig).noquote() << QStringLiteral("%1: %2 port %3, unit %4, %5, at most %6 clients, %7")
                                          .arg(QLatin1String(ModbusTCP), s.address.toString())
                                          .arg(s.port)
                                          .arg(s.unit)
                                          .arg(s.writable ? QStringLiteral("coil 0 writable")
                                                          : QStringLiteral("read only"))
                                          .arg(s.maxClients)
                                          .arg(s.idleSeconds > 0
                                                   ? QStringLiteral("idle ones closed after %1 s").arg(s.idleSeconds)
                                                   : QStringLiteral("idle ones kept"));
    return s;
}

} // namespace quorvex
