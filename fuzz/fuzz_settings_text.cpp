// The settings file's text: any bytes either parse or are refused; a write
// of the values read gives text that reads the same values, rewriting it
// changes nothing more, and an added value reads back as given.
#include "line/SettingsText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<quorvex::SettingsValues> values = quorvex::parseSettingsText(text);
    if (!values)
        return 0;
    const QByteArray merged = quorvex::mergeSettingsText(text, *values);
    if (quorvex::parseSettingsText(merged) != values)
        __builtin_trap();
    if (quorvex::mergeSettingsText(merged, *values) != merged)
        __builtin_trap();
    quorvex::SettingsValues added = *values;
    added.insert(QStringLiteral("Fuzz/Key [1]"), QString::fromUtf8(text.left(32)).remove(QChar(0xfeff)));
    if (quorvex::parseSettingsText(quorvex::mergeSettingsText(merged, added)) != added)
        __builtin_trap();
    return 0;
}
