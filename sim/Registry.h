// Table of the simulated models, so tools can start any of them by name.
// To add a model: write sim/instruments/<Model>.h and add one line to the
// table in Registry.cpp.
#pragma once

#include "sim/Instrument.h"

#include <functional>
#include <string_view>
#include <vector>

namespace sim {

struct ModelInfo {
    std::string_view name; // command-line name, lower case
    std::string_view description; // one line
    std::string_view options; // model-specific options, for --help
    std::function<Handle<Instrument>()> create;
};

const std::vector<ModelInfo> &models();
// nullptr if the name is unknown.
Handle<Instrument> createInstrument(std::string_view name);

} // namespace sim
