// A text instrument described by a definition file: it answers each
// operation's request with the operation's example reply, and a continuous
// operation sends its example every tick. The number of the example (the
// pattern's group 1) can be replaced while it runs.
#pragma once

#include "drivers/InstrumentDefinitions.h"
#include "sim/Instrument.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

class DefinedText : public Instrument {
public:
    // definition must be a text (ASCII) one and outlive the simulator.
    explicit DefinedText(const quorvex::InstrumentDefinition &definition);

    // Replaces the number of every example (its text as the instrument
    // writes it: "+0012.50"), or of one operation's ("LeggiPeso").
    void setNumber(const std::string &text, const std::string &operation = {});
    std::string replyOf(const std::string &operation) const;

    bool setOption(std::string_view key, std::string_view value) override;

protected:
    void onReceived(std::string_view bytes) override;
    void onTick() override;

private:
    const quorvex::InstrumentDefinition &m_definition;
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_numbers; // operation -> number text
    std::string m_pending; // simulator thread only
};

} // namespace sim
