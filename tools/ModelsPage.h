#pragma once
// What `quorvex models` prints, from the model table: the known models, and
// the reference page of the built-in ones, generated so that it cannot drift
// from the table, as Markdown (docs/models.md) and as a manual page
// (man/quorvex-instruments.7). It runs in quorvex-models, the one program
// of the client's that links the instrument table and its engines.
#include <QString>

namespace quorvex::cli {

QString modelsMarkdown();
QString modelsManPage();

// The known instrument models, built-in then defined: one line each.
QString listModels();

} // namespace quorvex::cli
