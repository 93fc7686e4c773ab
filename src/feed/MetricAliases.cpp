#include "feed/MetricAliases.h"

#include "sparkplug_b.pb.h"

namespace quorvex {

void MetricAliases::apply(const QString &device, sparkplug::Payload &payload, bool birth)
{
    for (int i = 0; i < payload.metrics_size(); ++i) {
        sparkplug::Payload::Metric *metric = payload.mutable_metrics(i);
        if (metric->name() == "bdSeq")
            continue;
        const QString key = device + QLatin1Char('/') + QString::fromStdString(metric->name());
        quint64 alias = m_aliases.value(key);
        if (alias == 0) {
            alias = quint64(m_aliases.size()) + 1;
            m_aliases.insert(key, alias);
        }
        metric->set_alias(alias);
        if (!birth)
            metric->clear_name();
    }
}

} // namespace quorvex
