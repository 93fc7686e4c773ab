#pragma once
// Every metric but bdSeq has an alias, unique in the node and the same for
// the life of the process; births name the metrics beside their aliases,
// data carries the aliases alone.
#include <QHash>
#include <QString>

namespace quorvex::sparkplug {
class Payload;
}

namespace quorvex {

class MetricAliases {
public:
    // Gives each metric of a message for device its alias; a birth keeps
    // the names, any other message drops them.
    void apply(const QString &device, sparkplug::Payload &payload, bool birth);

private:
    QHash<QString, quint64> m_aliases; // "<device>/<metric>" -> alias
};

} // namespace quorvex
