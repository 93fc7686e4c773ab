#pragma once
// Sparkplug B payloads of the line's values: each metric named and typed as
// the table of published values says, aliased, and made into bytes.
#include "history/CoilRecord.h"
#include "line/PublishedValues.h"

#include "sparkplug_b.pb.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace quorvex::spb {

using Payload = sparkplug::Payload;
using Metric = sparkplug::Payload::Metric;

// Milliseconds since the epoch, the payloads' clock.
qint64 now();

Metric *addMetric(Payload &payload, const char *name, sparkplug::DataType type, qint64 timestamp);
// A Double metric; null without a value.
void addDouble(Payload &payload, const char *name, std::optional<double> value, qint64 timestamp);
void addText(Payload &payload, const char *name, const char *value, qint64 timestamp);
// A value of the table as its metric; null when the value is.
void addValue(Payload &payload, const PublishedValue &row, const QVariant &value, qint64 timestamp);
// The coil device's metrics, the coil rows of the table with a metric name:
// all null without a coil.
void addCoil(Payload &payload, const std::optional<CoilRecord> &coil, qint64 timestamp, bool historical = false);

// An NDEATH (the Will too): bdSeq alone.
QByteArray deathPayload(int bdSeq);
QByteArray serialized(const Payload &payload);

} // namespace quorvex::spb
