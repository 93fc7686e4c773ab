#pragma once
// Line settings text of a port, "9600,N,8,1": baud rate, parity letter
// (N, E, O, M, S), data bits (5 to 8) and stop bits (1, 1.5 or 2).
#include "common/AutomationError.h"

#include <QString>
#include <chrono>
#include <optional>

namespace quorvex {

// The settings most instruments are set to, and those of a port nobody
// configured yet; the members of LineSettings default to the same.
inline constexpr char kUsualLineSettings[] = "9600,N,8,1";

struct LineSettings {
    qint32 baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    QString stopBits = QStringLiteral("1"); // "1", "1.5" or "2"

    // Parses the text; nullopt when it is not valid line settings.
    static std::optional<LineSettings> parse(const QString &text);
    QString toString() const;
    // How long one character takes on the wire: start bit, data bits,
    // parity bit and stop bits at the baud rate.
    double characterMicroseconds() const;
    // How long that many characters take on the wire.
    std::chrono::microseconds wireTime(qint64 characters) const
    {
        return std::chrono::microseconds(qint64(double(characters) * characterMicroseconds()));
    }
    bool operator==(const LineSettings &) const = default;
};

// The invalid-property-value error (380) of text that is not line settings,
// quoting it.
AutomationError invalidLineSettings(const QString &text);

} // namespace quorvex
