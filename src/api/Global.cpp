#include "api/Global.h"

#include "common/AutomationError.h"
#include "drivers/Exchanges.h"

#include <QCoro/QCoroTimer>

namespace quorvex {

using namespace std::chrono_literals;

Global::Global(Line &line) : m_line(line)
{
    m_line.instanceCreated();
}

Global::~Global()
{
    m_line.instanceDestroyed();
}

QCoro::Task<double> Global::LeggiPeso()
{
    return m_line.LeggiValore(Role::Bilancia, RoleOperation::LeggiPeso);
}

QCoro::Task<double> Global::LeggiTara()
{
    return m_line.LeggiValore(Role::Bilancia, RoleOperation::LeggiTara);
}

QCoro::Task<double> Global::LeggiAltezza(bool Force)
{
    Q_UNUSED(Force); // the cached mode comes with the sampler
    return m_line.LeggiValore(Role::Altezza, RoleOperation::LeggiAltezza);
}

QCoro::Task<double> Global::LeggiLunghezza(bool Force)
{
    Q_UNUSED(Force); // the cached mode comes with the sampler
    return m_line.LeggiValore(Role::Contametri, RoleOperation::LeggiLunghezza);
}

QCoro::Task<> Global::AzzeraLunghezza()
{
    co_await m_line.LeggiValore(Role::Contametri, RoleOperation::AzzeraLunghezza);
    // Give the counter time to zero. The pause suspends this call only, so
    // other clients are served meanwhile.
    co_await QCoro::sleepFor(500ms);
    // Read until the counter shows it has zeroed, five times at most.
    for (int i = 0; i < 5; ++i) {
        const double length = co_await LeggiLunghezza(true);
        if (length < m_line.IntervalloDiCampionamento)
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
    return m_line.EseguiServizio(Role::Servizio, RoleOperation::ScriviServizio, std::move(parametri));
}

QCoro::Task<QVariant> Global::call(const Operation &op, CallArgs args)
{
    if (op.model)
        co_return co_await runExchange(*op.model, args.port.port(), args.text);
    if (!op.generic)
        throw AutomationError(ErrorKind::NotFound, 438, QStringLiteral("Unknown operation %1").arg(op.name));
    if (!args.flag && !op.params.empty())
        args.flag = op.params.front().defaultValue;
    co_return co_await op.generic(*this, std::move(args));
}

namespace {

template <typename T> QCoro::Task<QVariant> asVariant(QCoro::Task<T> task)
{
    co_return QVariant(co_await task);
}

QCoro::Task<QVariant> ready(QVariant value = {})
{
    co_return value;
}

QCoro::Task<QVariant> afterwards(QCoro::Task<> task)
{
    co_await task;
    co_return QVariant();
}

// Global's generic operations by name, each with the arguments it takes.
struct GenericEntry {
    const char *name;
    GenericOperation run;
};
const GenericEntry kGeneric[] = {
    {"LeggiAltezza", [](Global &g, CallArgs a) { return asVariant(g.LeggiAltezza(*a.flag)); }},
    {"LeggiAltezzaAlPuntoDiOsservazione", [](Global &g, CallArgs) { return asVariant(g.LeggiAltezzaAlPuntoDiOsservazione()); }},
    {"LeggiPeso", [](Global &g, CallArgs) { return asVariant(g.LeggiPeso()); }},
    {"AzzeraLunghezza", [](Global &g, CallArgs) { return afterwards(g.AzzeraLunghezza()); }},
    {"LeggiLunghezza", [](Global &g, CallArgs a) { return asVariant(g.LeggiLunghezza(*a.flag)); }},
    {"ShowSettings", [](Global &g, CallArgs) { g.ShowSettings(); return ready(); }},
    {"ShowSampler", [](Global &g, CallArgs a) { g.ShowSampler(*a.flag); return ready(); }},
    {"LeggiTara", [](Global &g, CallArgs) { return asVariant(g.LeggiTara()); }},
    {"LeggiServizio", [](Global &g, CallArgs a) { return ready(g.LeggiServizio(a.text)); }},
    {"ScriviServizio", [](Global &g, CallArgs a) { return asVariant(g.ScriviServizio(a.text)); }},
    {"ImpostaServizio", [](Global &g, CallArgs a) { return ready(g.ImpostaServizio(a.text)); }},
};

} // namespace

GenericOperation genericOperation(const QString &name)
{
    for (const GenericEntry &entry : kGeneric) {
        if (name == QLatin1String(entry.name))
            return entry.run;
    }
    return nullptr;
}

} // namespace quorvex
