#pragma once
// `quorvex reload`: the server reads its settings file again; the warnings
// that load logged are printed, and make the exit status 4.
#include "Cli.h"

namespace quorvex::cli {

// A command that takes no words after its name.
void readNoArguments(Request &request, const QStringList &words);

int printReloadWarnings(const Request &request, const QDBusMessage &reply);

} // namespace quorvex::cli
