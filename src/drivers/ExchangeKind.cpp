#include "drivers/ExchangeKind.h"

namespace quorvex {

bool isEcho(QByteArrayView heard, QByteArrayView request)
{
    return !request.isEmpty() && heard.startsWith(request);
}

QString pageBytes(QByteArrayView bytes)
{
    static const char *const names[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
                                          "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                          "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    QString out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32)
            out += QStringLiteral("<%1>").arg(QLatin1String(names[u]));
        else if (u >= 127)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString pageFallback(Fallback fallback)
{
    switch (fallback) {
    case Fallback::Zero: return QStringLiteral("reads 0");
    case Fallback::WholeZero: return QStringLiteral("reads the integer 0");
    case Fallback::Empty: return QStringLiteral("reads the empty value");
    case Fallback::TypeMismatch: return QStringLiteral("is the type-mismatch error");
    }
    return {};
}

QString pageSeconds(std::chrono::milliseconds t)
{
    return QStringLiteral("%1 s").arg(QString::number(t.count() / 1000.0, 'g', 6));
}

void noteSilentZero(const Recipe &recipe, QStringList &limits)
{
    if (recipe.parse && recipe.onSilence == Fallback::Zero)
        limits << QStringLiteral("a silent instrument reads 0, like a true zero");
}

} // namespace quorvex
