#pragma once
// What the client tells from this machine alone, without the server: the
// instrument models known (the model table and the definitions), the
// reference page of the built-in ones (generated from the table so that it
// cannot drift from it: docs/models.md, man/quorvex-instruments.7), and the
// serial devices present. It runs in quorvex-local, the one program of the
// client's that links the model table, its engines and Qt Serial Port.
#include <QString>

namespace quorvex::cli {

QString modelsMarkdown();
QString modelsManPage();

// The known instrument models, built-in then those of the definition
// files as they are now: one line each.
QString listModels();

// The serial devices present on this machine, by their stable names.
QString formatSerialDevices();

} // namespace quorvex::cli
