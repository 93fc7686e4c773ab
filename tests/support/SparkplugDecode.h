#pragma once
// Sparkplug B messages as a subscriber received them (hex payloads), decoded
// by python3-protobuf with the classes protoc makes from the node's .proto:
// one {"topic", "timestamp", "seq", "metrics": {name: {...}}} per message.
// For tests built with SYSTEM_PYTHON, SPARKPLUG_SCRIPT and SPARKPLUG_PY_DIR.
#include "tests/support/MqttBroker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace mqtt {

inline QList<QJsonObject> decodeSparkplug(const QList<Message> &received)
{
    QByteArray input;
    for (const Message &m : received)
        input += m.topic.toUtf8() + ' ' + m.payload + '\n';
    QProcess python;
    python.start(QStringLiteral(SYSTEM_PYTHON),
                 {QStringLiteral(SPARKPLUG_SCRIPT), QStringLiteral(SPARKPLUG_PY_DIR), QStringLiteral("decode")});
    python.write(input);
    python.closeWriteChannel();
    python.waitForFinished(30000);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QList<QJsonObject> messages;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            messages.append(QJsonDocument::fromJson(line).object());
    return messages;
}

} // namespace mqtt
