#pragma once
// What a Sparkplug B command (NCMD) asks for. The edge node acts on one
// command only, "Node Control/Rebirth" = true; every other metric is named
// so it can be refused.
#include <QByteArrayView>
#include <QStringList>

namespace quorvex {

struct NodeCommand {
    bool decoded = false; // the bytes are a Sparkplug B payload
    bool rebirth = false; // "Node Control/Rebirth" is true
    QStringList others; // the names of every other metric, in order
};

NodeCommand decodeNodeCommand(QByteArrayView payload);

} // namespace quorvex
