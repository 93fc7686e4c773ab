#pragma once
// quorvex-local, which tells what this machine alone knows (the instrument
// models, the serial devices present), run by the client with the client's
// own output and error streams. It is looked for beside this program (a
// build tree), then in the libexec folder it is installed to.
#include <QStringList>

namespace quorvex::cli {

// Becomes quorvex-local: returns only when it cannot be run, with the
// reason on stderr and kExitCallFailed.
int execLocalProgram(const QStringList &arguments);

// Runs it to its end: its exit status; kExitCallFailed, with the reason on
// stderr, when it cannot be run or does not end normally.
int runLocalProgram(const QStringList &arguments);

} // namespace quorvex::cli
