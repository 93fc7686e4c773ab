#pragma once
// SIGINT and SIGTERM end a command that runs until stopped (--watch,
// monitor) through the event loop, so a pending call is simply abandoned
// and the process exits at once.
#include <QCoreApplication>

namespace quorvex::cli {

// From now on SIGINT and SIGTERM end the event loop; false if they cannot.
bool quitOnStopSignals(QCoreApplication &app);

} // namespace quorvex::cli
