#pragma once
// The class Global: the operations clients call. Generic operations read the
// instrument of their role through the line (those with more to do than
// that are the methods here); driver operations run their recipe on
// the port the client names. Each client gets its own
// instance; all instances share the line.
#include "api/GlobalServices.h"
#include "api/Operations.h"
#include "common/KeepAlive.h"
#include "line/Line.h"

#include <QCoro/QCoroTask>
#include <QVariant>
#include <optional>

namespace quorvex {

// The arguments of one call, already converted from the client's form.
struct CallArgs {
    std::optional<bool> flag; // Force / Show, when given
    ResolvedPort port; // MSCObj; a device opened for the call closes with it
    QString text; // parametri
    // When set, why a reading gave no valid value (empty for a valid one);
    // it must outlive the call.
    QString *problem = nullptr;
};

class Global {
public:
    // services: what the process offers beyond the line (none in tests
    // that need only readings).
    explicit Global(Line &line, const GlobalServices *services = nullptr);
    ~Global();
    Global(const Global &) = delete;
    Global &operator=(const Global &) = delete;

    double AltezzaMedia = 0;
    // Whether a zeroing of this instance has given AltezzaMedia a value.
    bool altezzaMediaSet = false;

    // problem, where a reading takes one: see CallArgs::problem.
    QCoro::Task<double> LeggiAltezza(bool Force = false, QString *problem = nullptr);
    QCoro::Task<double> LeggiAltezzaAlPuntoDiOsservazione(QString *problem = nullptr);
    // problem, when given: why the counter did not zero (then no coil was
    // closed), empty when it did.
    QCoro::Task<> AzzeraLunghezza(QString *problem = nullptr);
    QCoro::Task<double> LeggiLunghezza(bool Force = false, QString *problem = nullptr);
    void ShowSettings();
    void ShowSampler(bool Show = true);
    QString LeggiServizio(const QString &parametri);
    QString ImpostaServizio(const QString &parametri);

    // Runs any operation of the table with its arguments. The result is a
    // double, a text, a reading variant (double, qint16 or invalid for
    // empty), or invalid for an operation without result. Errors are thrown
    // as AutomationError.
    QCoro::Task<QVariant> call(const Operation &op, CallArgs args);

    Line &line() const { return m_line; }

private:
    Sampler *sampler() const { return m_services && m_services->sampler ? m_services->sampler() : nullptr; }

    Line &m_line;
    const GlobalServices *m_services;
    // A client's instance keeps the process alive until it goes.
    KeepAliveToken m_keepAlive = KeepAliveToken::take();
};

} // namespace quorvex
