#pragma once
// The reference page of the built-in instrument models, generated from the
// model table so that it cannot drift from it: as Markdown (docs/models.md)
// and as a manual page (man/quorvex-instruments.7).
#include <QString>

namespace quorvex::cli {

QString modelsMarkdown();
QString modelsManPage();

} // namespace quorvex::cli
