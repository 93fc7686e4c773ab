#pragma once
// How the client writes: a line of text in the locale's encoding, flushed
// at once, so a line reaches a pipe before the next call starts.
#include <QString>
#include <cstdio>

namespace quorvex::cli {

inline void writeText(std::FILE *out, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

inline void writeLine(std::FILE *out, const QString &text)
{
    writeText(out, text + QLatin1Char('\n'));
}

} // namespace quorvex::cli
