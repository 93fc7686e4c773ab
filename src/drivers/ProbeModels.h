#pragma once
// What a probe needs of the instrument table, in one place: the models that
// can serve a role, the read request of each (never a zeroing, a tare or a
// service command), and whether bytes heard after it are a valid reading.
#include "drivers/ExchangeKind.h"
#include "drivers/InstrumentDefinitions.h"
#include "drivers/Roles.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace quorvex {

struct ProbeModel {
    QString brand;
    QString model;
    QString operation; // the reading it was found by: "LeggiPeso"
    const Recipe *recipe = nullptr;
    QString usualSettings; // the line settings it is first tried at
    ProbeTry probe; // what is written and awaited, as its kind of exchange says
};

// The models, built-in then defined, that serve role ("Bilancia",
// "Contametri", "Altezza"; empty: any reading role) by a read that writes
// nothing to the instrument, one per brand and model, in table order.
// nullopt for a role that takes no readings. Their recipes point into
// definitions, which must outlive them.
std::optional<std::vector<ProbeModel>> probeModels(const InstrumentDefinitions &definitions, const QString &role);

// The reading in bytes heard after the model's request (or while listening),
// or nullopt when they are not a whole, valid reply of the model. An echo of
// the request is never a reply.
std::optional<double> probeReading(const ProbeModel &model, QByteArrayView bytes);

} // namespace quorvex
