#include "line/Line.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/ExchangeKind.h"
#include "drivers/Exchanges.h"
#include "line/PortDirectory.h"
#include "serial/PortReference.h"
#include "serial/SerialPort.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace quorvex {

namespace {

// A port follows its number through the devices of the last load.
PortFactory serialPorts(std::shared_ptr<const PortDevices> devices)
{
    return [devices](const QString &devicePath) -> PortRef {
        if (devicePath.isEmpty())
            return std::make_shared<SerialPort>([devices](int number) { return devicePathIn(*devices, number); });
        return std::make_shared<SerialPort>(devicePath);
    };
}

// A driver's reading as a number: empty counts as 0; anything that is not a
// number is a failure.
double readingValue(const QVariant &value)
{
    if (!value.isValid() || value.typeId() == QMetaType::QVariantList)
        return 0;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Short || value.typeId() == QMetaType::Int)
        return value.toDouble();
    throw AutomationError::typeMismatch();
}

// The same device whatever link names it (/dev/serial/by-id/...).
QString canonicalDevice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString roleName(Role role)
{
    return QLatin1String(roleGroup(role));
}

void logFailedReading(Role role, RoleOperation op, const AutomationError &error)
{
    qCDebug(lcDriver).noquote() << QStringLiteral("%1 of %2 failed: %3: %4")
                                       .arg(QLatin1String(operationName(op)), QLatin1String(roleGroup(role)))
                                       .arg(error.number())
                                       .arg(error.text());
}

// Why a role gives no reading for op before anything reaches a port.
QString unconfigured(Role role, RoleOperation op, const Device &record)
{
    if (record.Marca.isEmpty() && record.Modello.isEmpty())
        return QStringLiteral("%1 is not configured (no Marca or Modello)").arg(roleName(role));
    const QString reason = QStringLiteral("%1: %2 %3 has no driver for %4")
                               .arg(roleName(role), record.Marca, record.Modello, QLatin1String(operationName(op)));
    return record.noDriverHint.isEmpty() ? reason : QStringLiteral("%1 (%2)").arg(reason, record.noDriverHint);
}

// One line for a failure that ended in an error.
QString failureReason(const AutomationError &error)
{
    switch (error.kind()) {
    case ErrorKind::PortError: return QStringLiteral("port error: %1").arg(error.text());
    case ErrorKind::TypeMismatch:
    case ErrorKind::InvalidArgument:
    case ErrorKind::Overflow:
        return QStringLiteral("the reply did not parse: %1 (%2)").arg(error.text()).arg(error.number());
    case ErrorKind::NotFound: return error.text();
    }
    return error.text();
}

} // namespace

ResolvedPort &ResolvedPort::operator=(ResolvedPort &&other) noexcept
{
    if (this != &other) {
        close();
        m_port = std::move(other.m_port);
        m_temporary = std::exchange(other.m_temporary, false);
    }
    return *this;
}

void ResolvedPort::close()
{
    if (!m_temporary || !m_port)
        return;
    m_temporary = false;
    try {
        m_port->setPortOpen(false);
    } catch (const AutomationError &) {}
}

Line::Line(PortFactory factory, QObject *parent)
        : QObject(parent), m_factory(factory ? std::move(factory) : serialPorts(m_portDevices))
{
    m_image.setHealthSource([this] { return health(); });
}

Line::~Line()
{
    // Nothing is told any more: whoever listens may be gone already.
    if (m_portHost)
        m_portHost->unload();
    retireTemporaries();
}

const Device &Line::device(Role role) const
{
    if (!m_dispositivi)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("The device collection is not loaded"));
    return (*m_dispositivi)[size_t(role)];
}

const Device &Line::device(const QString &key) const
{
    for (int i = 0; i < kRoleCount; ++i) {
        if (key == QLatin1String(kRoles[i].key))
            return device(Role(i));
    }
    if (!m_dispositivi)
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("The device collection is not loaded"));
    throw AutomationError(ErrorKind::NotFound, 5, QStringLiteral("No device under key %1").arg(key));
}

QCoro::Task<double> Line::LeggiValore(Role role, RoleOperation op, QString *problem)
{
    QString ignored;
    QString &why = problem ? *problem : ignored;
    why.clear();
    // The record as it is now: a reload during the reading does not change it.
    const Device record = device(role);
    double result = 0;
    bool reached = false; // the exchange was tried: it counts
    try {
        const Recipe *driver = record.driver(op);
        if (!driver || driver->exchange->givesText) {
            why = unconfigured(role, op, record);
        } else if (!record.port) {
            why = QStringLiteral("%1 has no port (Porta)").arg(roleName(role));
        } else {
            reached = true;
            const QVariant value = co_await runExchange(*driver, record.port, {}, roleName(role), &why);
            result = readingValue(value) * record.Divisore;
            if (why.isEmpty() && op != RoleOperation::AzzeraLunghezza)
                why = record.divisoreProblem;
            if (why.isEmpty()) {
                m_image.readingTaken(op, result);
                emit readingTaken(role, op, result);
            }
        }
    } catch (const AutomationError &error) {
        logFailedReading(role, op, error);
        if (why.isEmpty())
            why = failureReason(error);
        result = 0;
    } catch (...) {
        if (why.isEmpty())
            why = QStringLiteral("the reading failed");
        result = 0;
    }
    if (reached) {
        if (!why.isEmpty())
            m_image.readingFailed(op);
        count(role, why.isEmpty());
    }
    co_return result;
}

QCoro::Task<QString> Line::EseguiServizio(Role role, RoleOperation op, QString parametri, QString *problem)
{
    QString ignored;
    QString &why = problem ? *problem : ignored;
    why.clear();
    const Device record = device(role);
    QString result;
    bool reached = false; // the exchange was tried: it counts
    try {
        const Recipe *driver = record.driver(op);
        if (!driver || !driver->exchange->givesText)
            why = unconfigured(role, op, record);
        else if (!record.port)
            why = QStringLiteral("%1 has no port (Porta)").arg(roleName(role));
        else {
            reached = true;
            result =
                (co_await runExchange(*driver, record.port, std::move(parametri), roleName(role), &why)).toString();
        }
    } catch (const AutomationError &error) {
        logFailedReading(role, op, error);
        if (why.isEmpty())
            why = failureReason(error);
        result.clear();
    } catch (...) {
        if (why.isEmpty())
            why = QStringLiteral("the command failed");
        result.clear();
    }
    if (reached)
        count(role, why.isEmpty());
    co_return result;
}

void Line::count(Role role, bool valid)
{
    ReadingCounts &counts = m_counts[size_t(role)];
    ++(valid ? counts.valid : counts.failed);
    emit healthChanged();
}

namespace {

double medianMs(QList<qint64> microseconds)
{
    std::sort(microseconds.begin(), microseconds.end());
    const qsizetype n = microseconds.size();
    const double middle = n % 2 ? double(microseconds[n / 2]) : (microseconds[n / 2 - 1] + microseconds[n / 2]) / 2.0;
    return middle / 1000;
}

} // namespace

QList<RoleHealth> Line::health() const
{
    QList<RoleHealth> roles;
    if (!m_dispositivi)
        return roles;
    for (int index = 0; index < kRoleCount; ++index) {
        const Role role = Role(index);
        const Device &record = (*m_dispositivi)[size_t(index)];
        if (record.Marca.isEmpty() && record.Modello.isEmpty() && record.Porta < 1)
            continue;
        RoleHealth h;
        h.role = role;
        h.brand = record.Marca;
        h.model = record.Modello;
        h.port = record.Porta > 0 ? record.Porta : 0;
        h.readings = m_counts[size_t(index)].valid;
        h.failedReadings = m_counts[size_t(index)].failed;
        const bool driven = std::any_of(record.drivers.begin(), record.drivers.end(),
                                        [](const Recipe *driver) { return driver != nullptr; });
        const PortControl *port = record.port.get();
        if (port) {
            h.device = port->devicePath();
            h.settings = port->Settings();
        }
        if (!driven || !port) {
            h.state = HealthState::Unconfigured;
            if (driven)
                h.lastError = QStringLiteral("no port (Porta)");
            else if (record.Marca.isEmpty() && record.Modello.isEmpty())
                h.lastError = QStringLiteral("no Marca or Modello");
            else
                h.lastError = QStringLiteral("no known model %1 %2").arg(record.Marca, record.Modello);
            roles.append(h);
            continue;
        }
        const PortControl::Health &health = port->health();
        if (!port->PortOpen())
            h.state = port->deviceThere() ? HealthState::Closed : HealthState::Gone;
        else
            h.state = health.silentExchanges > 0 ? HealthState::Silent : HealthState::Ok;
        h.lastError = !health.lastError.isEmpty() ? health.lastError : port->lastErrorText();
        const QList<PortControl::ExchangeTime> times = health.times.value(roleName(role));
        if (!times.isEmpty()) {
            QList<qint64> elapsed, wire;
            for (const PortControl::ExchangeTime &t : times) {
                elapsed.append(t.elapsedUs);
                wire.append(t.wireUs);
            }
            h.timedExchanges = int(times.size());
            h.exchangeMs = medianMs(elapsed);
            h.wireMs = medianMs(wire);
        }
        roles.append(h);
    }
    return roles;
}

QStringList Line::reloadConfiguration(const QString &why)
{
    // With no client the ports are not loaded: the next client loads the
    // configuration as it is then.
    if (m_closed || !m_portHost) {
        qCInfo(lcServer).noquote()
            << QStringLiteral("configuration not reloaded (%1): no client, nothing is loaded").arg(why);
        return {};
    }
    qCInfo(lcServer).noquote() << QStringLiteral("reloading the configuration (%1)").arg(why);
    const WarningCollector collector;
    emit aboutToReload();
    CaricaDispositivi();
    return collector.warnings();
}

ResolvedPort Line::resolvePort(const QString &text)
{
    const PortReference reference = parsePortReference(text);
    if (reference.isEmpty())
        return {};
    if (reference.number) {
        // Element 0 is only the template of new port objects, never a port.
        PortRef port = m_portHost && *reference.number > 0 ? m_portHost->element(*reference.number) : nullptr;
        if (!port)
            throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("No port object %1").arg(*reference.number));
        return {port, false};
    }
    // A device the server holds open is the same line: the call takes its
    // turn there instead of opening the device a second time.
    if (m_portHost) {
        if (PortRef open = m_portHost->openPortOn(canonicalDevice(reference.devicePath), canonicalDevice))
            return {open, false};
    }
    PortRef port = m_factory(reference.devicePath);
    if (!reference.settings.isEmpty())
        port->setSettings(reference.settings);
    port->setPortOpen(true);
    std::erase_if(m_temporaries, [](const std::weak_ptr<PortControl> &p) { return p.expired(); });
    m_temporaries.push_back(port);
    return {port, true};
}

void Line::loadPortHost()
{
    if (!m_portHost) {
        m_portHost = std::make_unique<PortHost>(m_factory);
        m_portHostLoaded = KeepAliveToken::take();
    }
}

void Line::unloadPortHost()
{
    if (!m_portHost)
        return;
    m_portHost->unload();
    m_portHost.reset();
    m_portHostLoaded.release();
}

void Line::close()
{
    m_closed = true;
    unloadPortHost();
    retireTemporaries();
}

void Line::retireTemporaries()
{
    // Ports opened for a call still running close too, releasing their locks.
    for (const std::weak_ptr<PortControl> &temporary : std::exchange(m_temporaries, {})) {
        if (const PortRef port = temporary.lock())
            port->retire();
    }
}

void Line::instanceCreated()
{
    if (m_numeroIstanze == std::numeric_limits<int>::max())
        throw AutomationError::overflow();
    ++m_numeroIstanze;
    // A client that arrives after the last one had gone (a call the bus
    // routed here while the server was ending) finds the line loaded again.
    if (!m_portHost && m_dispositivi && !m_closed)
        CaricaDispositivi();
}

void Line::instanceDestroyed()
{
    if (--m_numeroIstanze == 0)
        unloadPortHost();
}

} // namespace quorvex
