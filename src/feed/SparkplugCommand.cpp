#include "feed/SparkplugCommand.h"

#include "sparkplug_b.pb.h"

namespace quorvex {

NodeCommand decodeNodeCommand(QByteArrayView payload)
{
    NodeCommand command;
    sparkplug::Payload message;
    if (!message.ParseFromArray(payload.data(), int(payload.size())))
        return command;
    command.decoded = true;
    for (const sparkplug::Payload::Metric &metric : message.metrics()) {
        const QString name = QString::fromStdString(metric.name());
        if (name == QLatin1String("Node Control/Rebirth") && metric.has_boolean_value()) {
            command.rebirth = command.rebirth || metric.boolean_value();
            if (metric.boolean_value())
                continue;
        }
        command.others.append(name.isEmpty() ? QStringLiteral("(no name)") : name);
    }
    return command;
}

} // namespace quorvex
