#include "api/Global.h"

#include "common/AutomationError.h"
#include "drivers/DriverTable.h"

#include <QCoro/QCoroTimer>
#include <QTimer>

namespace quorvex {

namespace {

QString driverName(const QString &operazione, const Device &d)
{
    return operazione + QLatin1Char('_') + d.Marca + QLatin1Char('_') + d.Modello;
}

// A driver's reading as a number: empty counts as 0; anything that is not a
// number is a failure.
double readingValue(const QVariant &value)
{
    if (!value.isValid() || value.typeId() == QMetaType::QVariantList)
        return 0;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Short
        || value.typeId() == QMetaType::Int)
        return value.toDouble();
    throw AutomationError::typeMismatch();
}

} // namespace

Global::Global(Server &server) : m_server(server)
{
    m_server.instanceCreated();
}

Global::~Global()
{
    m_server.instanceDestroyed();
}

// Every failure below this point ends as 0: a missing driver, a port that
// is closed or gone, a reply that does not convert.
QCoro::Task<double> Global::LeggiValore(std::optional<Device> dispositivo, QString operazione)
{
    if (!dispositivo)
        co_return 0.0;
    double result = 0;
    try {
        const DriverEntry *entry = findDriver(driverName(operazione, *dispositivo));
        if (entry && entry->numeric) {
            const QVariant value = co_await entry->numeric(dispositivo->MSC);
            result = readingValue(value) * dispositivo->Divisore;
        }
    } catch (...) {
        result = 0;
    }
    co_return result;
}

QCoro::Task<QString> Global::EseguiServizio(std::optional<Device> dispositivo, QString operazione,
                                            QString parametri)
{
    if (!dispositivo)
        co_return QString();
    QString result;
    try {
        const DriverEntry *entry = findDriver(driverName(operazione, *dispositivo));
        if (entry && entry->text)
            result = co_await entry->text(dispositivo->MSC, parametri);
    } catch (...) {
        result.clear();
    }
    co_return result;
}

QCoro::Task<double> Global::LeggiPeso()
{
    return LeggiValore(m_server.device(QStringLiteral("BIL")), QStringLiteral("LeggiPeso"));
}

QCoro::Task<double> Global::LeggiTara()
{
    return LeggiValore(m_server.device(QStringLiteral("BIL")), QStringLiteral("LeggiTara"));
}

QCoro::Task<double> Global::LeggiAltezza(bool Force)
{
    Q_UNUSED(Force); // the cached mode comes with the sampler
    return LeggiValore(m_server.device(QStringLiteral("ALT")), QStringLiteral("LeggiAltezza"));
}

QCoro::Task<double> Global::LeggiLunghezza(bool Force)
{
    Q_UNUSED(Force); // the cached mode comes with the sampler
    return LeggiValore(m_server.device(QStringLiteral("CTM")), QStringLiteral("LeggiLunghezza"));
}

QCoro::Task<> Global::AzzeraLunghezza()
{
    co_await LeggiValore(m_server.device(QStringLiteral("CTM")), QStringLiteral("AzzeraLunghezza"));
    // Give the counter time to zero. The wait suspends this call only, so
    // other clients are served meanwhile.
    QTimer pause;
    pause.setSingleShot(true);
    pause.start(500);
    co_await pause;
    // Read until the counter shows it has zeroed, five times at most.
    for (int i = 0; i < 5; ++i) {
        const double length = co_await LeggiLunghezza(true);
        if (length < m_server.IntervalloDiCampionamento)
            break;
    }
}

QCoro::Task<double> Global::LeggiAltezzaAlPuntoDiOsservazione()
{
    // The height at the observation point comes from the sample buffer,
    // which only the sampler fills; without samples the answer is 0.
    co_return 0.0;
}

void Global::ShowSettings()
{
    // The settings dialog is not part of this build yet.
}

void Global::ShowSampler(bool Show)
{
    Q_UNUSED(Show); // the sampler window is not part of this build yet
}

QString Global::LeggiServizio(const QString &parametri)
{
    Q_UNUSED(parametri);
    return QString();
}

QString Global::ImpostaServizio(const QString &parametri)
{
    Q_UNUSED(parametri);
    return QString();
}

QCoro::Task<QString> Global::ScriviServizio(QString parametri)
{
    return EseguiServizio(m_server.device(QStringLiteral("SERV")), QStringLiteral("ScriviServizio"),
                          std::move(parametri));
}

QCoro::Task<QVariant> Global::call(const Operation &op, CallArgs args)
{
    if (op.driver) {
        const DriverEntry *entry = findDriver(QLatin1String(op.name));
        if (entry && entry->numeric)
            co_return co_await entry->numeric(args.port);
        if (entry && entry->text)
            co_return QVariant(co_await entry->text(args.port, args.text));
        throw AutomationError(ErrorKind::NotFound, 438,
                              QStringLiteral("%1: no driver for this instrument in this build").arg(op.name));
    }
    const bool flag = args.flag.value_or(op.params.empty() ? false : op.params.front().defaultValue);
    switch (op.slot) {
    case 1: co_return QVariant(co_await LeggiAltezza(flag));
    case 2: co_return QVariant(co_await LeggiAltezzaAlPuntoDiOsservazione());
    case 3: co_return QVariant(co_await LeggiPeso());
    case 4: co_await AzzeraLunghezza(); co_return QVariant();
    case 5: co_return QVariant(co_await LeggiLunghezza(flag));
    case 10: ShowSettings(); co_return QVariant();
    case 11: ShowSampler(flag); co_return QVariant();
    case 19: co_return QVariant(co_await LeggiTara());
    case 23: co_return QVariant(LeggiServizio(args.text));
    case 24: co_return QVariant(co_await ScriviServizio(args.text));
    case 26: co_return QVariant(ImpostaServizio(args.text));
    }
    throw AutomationError(ErrorKind::NotFound, 438, QStringLiteral("Unknown operation %1").arg(op.name));
}

} // namespace quorvex
