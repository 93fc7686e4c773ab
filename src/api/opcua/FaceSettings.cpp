#include "api/opcua/FaceSettings.h"

#include "line/Conversions.h"
#include "line/SettingsReader.h"

#include <QSysInfo>

namespace quorvex {

namespace {

using namespace settings;

QString text(const SettingsSnapshot &store, const char *group, const char *key)
{
    QString value;
    readInto(store, group, key, value, asText);
    return value.trimmed();
}

void warn(const QString &message)
{
    qCWarning(lcConfig).noquote() << QStringLiteral("[%1] %2").arg(QLatin1String(OPCUA), message);
}

} // namespace

OpcuaFaceSettings readOpcuaFaceSettings(const SettingsSnapshot &store)
{
    OpcuaFaceSettings s;
    const QString porta = text(store, OPCUA, Porta);
    if (!porta.isEmpty()) {
        if (const std::optional<int> port = wholeNumberIn(1, 65535)(porta))
            s.port = *port;
        else
            warn(QStringLiteral("%1=%2 %3: the OPC UA face is off")
                     .arg(QLatin1String(Porta), quotedForLog(porta), wholeNumberProblem(1, 65535)));
    }
    QString address = s.address.toString();
    const auto addressText = [](const QString &text) -> std::optional<QString> {
        return QHostAddress().setAddress(text.trimmed()) ? std::optional<QString>(text.trimmed()) : std::nullopt;
    };
    readInto(store, OPCUA, Indirizzo, address, addressText, QStringLiteral("is not an IP address"));
    s.address = QHostAddress(address);
    s.secure = !s.loopback();
    const QString sicurezza = text(store, OPCUA, Sicurezza);
    if (sicurezza.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        s.secure = false;
    else if (sicurezza.compare(QLatin1String("SignAndEncrypt"), Qt::CaseInsensitive) == 0)
        s.secure = true;
    else if (!sicurezza.isEmpty())
        warn(QStringLiteral("%1=%2 is neither None nor SignAndEncrypt: %3 is used instead")
                 .arg(QLatin1String(Sicurezza), quotedForLog(sicurezza),
                      s.secure ? QStringLiteral("SignAndEncrypt") : QStringLiteral("None")));
    if (s.enabled() && !s.secure && !s.loopback())
        warn(QStringLiteral("%1=None on %2, which is not a loopback address: any client on the network reads the "
                            "line without a certificate")
                 .arg(QLatin1String(Sicurezza), s.address.toString()));
    readInto(store, OPCUA, Scrittura, s.writable, toBoolean, QStringLiteral("is not 0 or 1"));
    s.user = text(store, OPCUA, Utente);
    s.passwordFile = text(store, OPCUA, FilePassword);
    if (!s.user.isEmpty() && s.passwordFile.isEmpty())
        warn(QStringLiteral("%1=%2 has no %3: nobody can log in as that user")
                 .arg(QLatin1String(Utente), quotedForLog(s.user), QLatin1String(FilePassword)));
    // The same line name the plant feed uses.
    s.lineName = text(store, Impianto, Linea);
    if (s.lineName.isEmpty())
        s.lineName = QSysInfo::machineHostName();
    if (s.lineName.isEmpty())
        s.lineName = QStringLiteral("linea");
    if (s.enabled())
        qCInfo(lcConfig).noquote() << QStringLiteral("%1: listening on %2 port %3, %4, %5")
                                          .arg(QLatin1String(OPCUA), s.address.toString())
                                          .arg(s.port)
                                          .arg(s.secure ? QStringLiteral("SignAndEncrypt") : QStringLiteral("None"),
                                               s.writable ? QStringLiteral("AzzeraLunghezza allowed")
                                                          : QStringLiteral("read only"));
    return s;
}

} // namespace quorvex
