#include "api/Global.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/Exchanges.h"
#include "tracking/Sampler.h"
#include "tracking/Zeroing.h"

namespace quorvex {

Global::Global(Line &line, const GlobalServices *services) : m_line(line), m_services(services)
{
    m_line.instanceCreated();
}

Global::~Global()
{
    m_line.instanceDestroyed();
}

// With height tracking on, the unforced readings are the cached ones: this
// client's coil average, and the sampler's last length.
QCoro::Task<double> Global::LeggiAltezza(bool Force, QString *problem)
{
    if (m_line.height().MisuraMedia && !Force) {
        if (problem)
            *problem = altezzaMediaSet
                ? QString()
                : QStringLiteral("height tracking is on: unforced, this is the caller's last coil"
                                 " average, and it has zeroed no coil yet");
        co_return AltezzaMedia;
    }
    co_return co_await m_line.LeggiValore(RoleOperation::LeggiAltezza, problem);
}

QCoro::Task<double> Global::LeggiLunghezza(bool Force, QString *problem)
{
    if (m_line.height().MisuraMedia && !Force) {
        if (problem)
            *problem = sampler() ? QString() : QStringLiteral("height tracking is on but the sampler is not running");
        co_return sampler() ? sampler()->UltimaLunghezza() : 0.0;
    }
    co_return co_await m_line.LeggiValore(RoleOperation::LeggiLunghezza, problem);
}

QCoro::Task<> Global::AzzeraLunghezza(QString *problem)
{
    ZeroingSteps steps{
        .zeroCounter = [this]() -> QCoro::Task<QString> {
            QString why;
            co_await m_line.LeggiValore(RoleOperation::AzzeraLunghezza, &why);
            co_return why;
        },
        .readLengthForced = [this]() -> QCoro::Task<double> { co_return co_await LeggiLunghezza(true); },
        .IntervalloDiCampionamento = m_line.height().IntervalloDiCampionamento,
        .coilFinished = m_services ? m_services->coilFinished : nullptr,
    };
    QString notZeroed;
    const std::optional<double> average =
        co_await quorvex::AzzeraLunghezza(std::move(steps), m_line.height().MisuraMedia, sampler(), &notZeroed);
    if (average) {
        AltezzaMedia = *average;
        altezzaMediaSet = true;
    }
    if (!notZeroed.isEmpty()) {
        // The operator believes the coil closed: say it was not, once a call.
        qCWarning(lcDriver).noquote()
            << QStringLiteral("AzzeraLunghezza: the counter did not zero (%1): the coil was not closed").arg(notZeroed);
    }
    if (problem)
        *problem = notZeroed.isEmpty() ? QString() : QStringLiteral("the counter did not zero: %1").arg(notZeroed);
}

QCoro::Task<double> Global::LeggiAltezzaAlPuntoDiOsservazione(QString *problem)
{
    if (problem)
        *problem = sampler() ? QString() : QStringLiteral("the sampler is not running (height tracking is off)");
    // Without a sampler the buffer is empty, and an empty buffer gives 0.
    co_return sampler() ? sampler()->altezzaAlPuntoDiOsservazione() : 0.0;
}

void Global::ShowSettings()
{
    if (m_services && m_services->showSettings)
        m_services->showSettings();
}

void Global::ShowSampler(bool Show)
{
    if (m_services && m_services->showSampler)
        m_services->showSampler(Show);
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

QCoro::Task<QVariant> Global::call(const Operation &op, CallArgs args)
{
    if (op.recipe)
        co_return co_await runExchange(*op.recipe, args.port.port(), args.text);
    if (!args.flag && !op.params.empty())
        args.flag = op.params.front().defaultValue;
    if (op.generic)
        co_return co_await op.generic(*this, std::move(args));
    if (!op.roleOperation)
        throw AutomationError(ErrorKind::NotFound, 438, QStringLiteral("Unknown operation %1").arg(op.name));
    if (op.result == ValueType::Text)
        co_return co_await m_line.EseguiServizio(*op.roleOperation, std::move(args.text), args.problem);
    co_return co_await m_line.LeggiValore(*op.roleOperation, args.problem);
}

namespace {

template<typename T> QCoro::Task<QVariant> asVariant(QCoro::Task<T> task)
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

// Global's generic operations that do more than their role operation, by
// name, each with the arguments it takes.
struct GenericEntry {
    const char *name;
    GenericOperation run;
};
const GenericEntry kGeneric[] = {
    {"LeggiAltezza", [](Global &g, CallArgs a) { return asVariant(g.LeggiAltezza(*a.flag, a.problem)); }},
    {"LeggiAltezzaAlPuntoDiOsservazione",
     [](Global &g, CallArgs a) { return asVariant(g.LeggiAltezzaAlPuntoDiOsservazione(a.problem)); }},
    {"AzzeraLunghezza", [](Global &g, CallArgs a) { return afterwards(g.AzzeraLunghezza(a.problem)); }},
    {"LeggiLunghezza", [](Global &g, CallArgs a) { return asVariant(g.LeggiLunghezza(*a.flag, a.problem)); }},
    {"ShowSettings",
     [](Global &g, CallArgs) {
         g.ShowSettings();
         return ready();
     }},
    {"ShowSampler",
     [](Global &g, CallArgs a) {
         g.ShowSampler(*a.flag);
         return ready();
     }},
    {"LeggiServizio", [](Global &g, CallArgs a) { return ready(g.LeggiServizio(a.text)); }},
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
