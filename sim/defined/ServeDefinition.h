// quorvex-sim --definition FILE: serves the instrument a definition file
// describes, on a fresh pseudo-terminal.
#pragma once

#include "sim/Registry.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// Runs the simulator for the definition in args[0] with the options after it.
// runText serves a text instrument the way every built-in model is served
// (options, console); the definition stays loaded while it runs.
int serveDefinition(const std::vector<std::string> &args,
                    const std::function<int(const ModelInfo &, const std::vector<std::string> &)> &runText);

} // namespace sim
