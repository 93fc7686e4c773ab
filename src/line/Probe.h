#pragma once
// Finds what answers on a port: every candidate model (ProbeModels.h) at its
// usual line settings, then at every candidate setting, by the model's read
// request (or by listening, for a model that transmits by itself). A
// candidate is found when two tries in a row give a valid reading. Each try
// takes the line's turn, so readings of a role on the same port go on
// between tries, and the port's own settings are back before the turn is.
#include "line/Line.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <functional>

namespace quorvex {

struct ProbeResult {
    QString brand;
    QString model;
    QString settings;
    QString operation;
    double value = 0; // as the instrument gave it, unscaled
    unsigned replies = 0;
};

// What a probe found: the candidates that answered, and when none did, the
// first bytes that came back all the same (a device no known model matches)
// and the settings they came at.
struct ProbeFindings {
    QList<ProbeResult> found;
    QByteArray unmatched;
    QString unmatchedSettings;
};

// Where a probe is: the candidate it tries now, as the number-th of total.
struct ProbeStep {
    QString brand;
    QString model;
    QString settings;
    int number = 0;
    int total = 0;
};

// The settings tried after a model's usual ones, in order.
QStringList probeSettingsOrder();

// device: a port number of the server or a device path; role: "Bilancia",
// "Contametri", "Altezza" or empty for all. Throws InvalidArgs for another
// role, NotFound for a port number without a port, the port's error when the
// device cannot be opened (another program holding it among the reasons).
QCoro::Task<ProbeFindings> probePort(Line &line, QString device, QString role,
                                     std::function<void(const ProbeStep &)> progress);

} // namespace quorvex
