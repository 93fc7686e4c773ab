#pragma once
// The bash completion of the client, made at build time from its tables:
// the commands and their options, the global options and the operations.
#include <QString>

namespace quorvex::cli {

// The template (data/quorvex.bash-completion.in) with its @NAME@ fields
// filled in.
QString bashCompletion(QString script);

} // namespace quorvex::cli
