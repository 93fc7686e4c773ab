#include "feed/SparkplugPayload.h"

#include <QDateTime>
#include <QPointF>

namespace quorvex::spb {

namespace {

namespace sp = quorvex::sparkplug;

sp::DataType dataType(PublishedType type)
{
    switch (type) {
    case PublishedType::Double: return sp::Double;
    case PublishedType::String: return sp::String;
    case PublishedType::UInt16: return sp::UInt16;
    case PublishedType::UInt32: return sp::UInt32;
    case PublishedType::UInt64: return sp::UInt64;
    case PublishedType::Int32: return sp::Int32;
    case PublishedType::Int64: return sp::Int64;
    case PublishedType::DateTime: return sp::DateTime;
    case PublishedType::Profile: return sp::DataSet;
    }
    return sp::Unknown;
}

} // namespace

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

Metric *addMetric(Payload &payload, const char *name, sp::DataType type, qint64 timestamp)
{
    Metric *metric = payload.add_metrics();
    metric->set_name(name);
    metric->set_datatype(type);
    metric->set_timestamp(quint64(timestamp));
    return metric;
}

void addDouble(Payload &payload, const char *name, std::optional<double> value, qint64 timestamp)
{
    Metric *metric = addMetric(payload, name, sp::Double, timestamp);
    if (value)
        metric->set_double_value(*value);
    else
        metric->set_is_null(true);
}

void addText(Payload &payload, const char *name, const char *value, qint64 timestamp)
{
    addMetric(payload, name, sp::String, timestamp)->set_string_value(value);
}

void addValue(Payload &payload, const PublishedValue &row, const QVariant &value, qint64 timestamp)
{
    Metric *metric = addMetric(payload, row.sparkplug, dataType(row.type), timestamp);
    if (row.type == PublishedType::Profile) {
        // A data set of (length, height) rows, its columns told even when empty.
        Payload::DataSet *set = metric->mutable_dataset_value();
        set->set_num_of_columns(std::size(kProfileColumns));
        for (const char *column : kProfileColumns) {
            set->add_columns(column);
            set->add_types(sp::Double);
        }
        for (const QPointF &sample : value.value<QList<QPointF>>()) {
            Payload::DataSet::Row *r = set->add_rows();
            r->add_elements()->set_double_value(sample.x());
            r->add_elements()->set_double_value(sample.y());
        }
        return;
    }
    if (value.isNull()) {
        metric->set_is_null(true);
        return;
    }
    switch (row.type) {
    case PublishedType::Double: metric->set_double_value(value.toDouble()); break;
    case PublishedType::String: metric->set_string_value(value.toString().toStdString()); break;
    case PublishedType::UInt16:
    case PublishedType::UInt32:
    case PublishedType::Int32: metric->set_int_value(value.toUInt()); break;
    default: metric->set_long_value(quint64(value.toLongLong())); break;
    }
}

void addCoil(Payload &payload, const std::optional<CoilRecord> &coil, qint64 timestamp, bool historical)
{
    for (const PublishedValue &row : kPublished) {
        if (row.source != ValueSource::Coil || !row.sparkplug)
            continue;
        addValue(payload, row, coil ? coilValue(*coil, row.value) : QVariant(), timestamp);
        payload.mutable_metrics(payload.metrics_size() - 1)->set_is_historical(historical);
    }
}

QByteArray deathPayload(int bdSeq)
{
    Payload payload;
    payload.set_timestamp(quint64(now()));
    addMetric(payload, "bdSeq", sp::Int64, now())->set_long_value(quint64(bdSeq));
    return serialized(payload);
}

QByteArray serialized(const Payload &payload)
{
    QByteArray bytes(qsizetype(payload.ByteSizeLong()), Qt::Uninitialized);
    payload.SerializeToArray(bytes.data(), int(bytes.size()));
    return bytes;
}

} // namespace quorvex::spb
