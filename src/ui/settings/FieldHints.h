#pragma once
// What loading the configuration will make of a value that it cannot use
// as such. Only a hint: the value is stored as typed all the same.
#include "line/SettingsSchema.h"

namespace quorvex {

// The hint for text in a field of that kind, or the empty text when the
// value is fine.
QString fieldHint(SettingKind kind, const QString &text);

} // namespace quorvex
