#include "sim/defined/DefinedText.h"

#include <QRegularExpression>

namespace sim {

using quorvex::DefinedOperation;
using quorvex::InstrumentDefinition;

DefinedText::DefinedText(const InstrumentDefinition &definition) : Instrument("defined"), m_definition(definition)
{
    for (int i = 0; i < definition.count; ++i) {
        if (definition.operations[i].request.isEmpty() && !definition.operations[i].example.isEmpty())
            setTickInterval(Milliseconds(100));
    }
}

void DefinedText::setNumber(const std::string &text, const std::string &operation)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < m_definition.count; ++i) {
        const std::string name = m_definition.recipes[i].operation;
        if (operation.empty() || operation == name)
            m_numbers[name] = text;
    }
}

std::string DefinedText::replyOf(const std::string &operation) const
{
    for (int i = 0; i < m_definition.count; ++i) {
        const DefinedOperation &op = m_definition.operations[i];
        if (operation != m_definition.recipes[i].operation)
            continue;
        QByteArray example = op.example;
        std::lock_guard lock(m_mutex);
        const auto number = m_numbers.find(operation);
        if (number != m_numbers.end() && op.format.isValid()) {
            const QRegularExpressionMatch match = op.format.match(QString::fromLatin1(example));
            if (match.hasMatch() && match.capturedStart(1) >= 0)
                example.replace(match.capturedStart(1), match.capturedLength(1),
                                QByteArray::fromStdString(number->second));
        }
        return example.toStdString();
    }
    return {};
}

bool DefinedText::setOption(std::string_view key, std::string_view value)
{
    if (key == "number") {
        setNumber(std::string(value));
        return true;
    }
    return Instrument::setOption(key, value);
}

void DefinedText::onReceived(std::string_view bytes)
{
    m_pending += bytes;
    for (int i = 0; i < m_definition.count; ++i) {
        const DefinedOperation &op = m_definition.operations[i];
        if (op.request.isEmpty())
            continue;
        const std::string request = op.request.toStdString();
        const auto at = m_pending.find(request);
        if (at == std::string::npos)
            continue;
        m_pending.erase(0, at + request.size());
        if (!op.example.isEmpty())
            reply(replyOf(m_definition.recipes[i].operation));
        return;
    }
    if (m_pending.size() > 256)
        m_pending.erase(0, m_pending.size() - 64);
}

void DefinedText::onTick()
{
    for (int i = 0; i < m_definition.count; ++i) {
        if (m_definition.operations[i].request.isEmpty() && !m_definition.operations[i].example.isEmpty())
            send(replyOf(m_definition.recipes[i].operation));
    }
}

} // namespace sim
