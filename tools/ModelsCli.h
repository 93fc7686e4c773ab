#pragma once
// `quorvex models [--markdown | --man]`: what quorvex-local prints, the
// instrument models a role can name or the reference page of the built-in
// ones. No bus: this machine alone knows them.
#include "Commands.h"

namespace quorvex::cli {

// `models --markdown` and `models --man`; false for the rest of models' forms.
bool readModelsPage(Request &request, const QStringList &words);

int runModels(Session &session, const Request &request);

} // namespace quorvex::cli
