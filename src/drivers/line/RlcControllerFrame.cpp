#include "drivers/line/RlcControllerFrame.h"

#include "common/AutomationError.h"

#include <limits>
#include <optional>

namespace quorvex {

namespace {

constexpr qsizetype kBlockLength = 18; // length, weight, two status characters
constexpr qsizetype kChecksumOffset = 18; // after the block
constexpr qsizetype kFieldDigits = 8;

std::optional<quint32> hexValue(QByteArrayView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint32 value = 0;
    for (const char u : digits) {
        quint32 digit;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        else if (u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

// The 18 characters of the status block; the invalid-argument error when
// the reply ends before them.
QByteArrayView statusBlock(QByteArrayView reply)
{
    const qsizetype start = rlcBlockStart(reply);
    if (reply.size() - start < kBlockLength)
        throw AutomationError::invalidArgument();
    return reply.sliced(start, kBlockLength);
}

} // namespace

qsizetype rlcBlockStart(QByteArrayView reply)
{
    const qsizetype paren = reply.indexOf('(');
    return paren < 0 ? 0 : paren + 1;
}

bool rlcChecksumMatches(QByteArrayView reply)
{
    const QByteArrayView block = statusBlock(reply);
    unsigned sum = 0;
    for (const char c : block)
        sum += static_cast<unsigned char>(c);
    // As many checksum digits as the reply holds, two at most.
    const QByteArrayView after = reply.sliced(rlcBlockStart(reply) + kChecksumOffset);
    const QByteArrayView digits = after.first(qMin<qsizetype>(2, after.size()));
    const std::optional<quint32> checksum = hexValue(digits);
    if (!checksum)
        throw AutomationError::typeMismatch();
    return sum % 256 == *checksum;
}

double rlcReading(quint32 h)
{
    constexpr quint32 kLimit = quint32(std::numeric_limits<qint32>::max()) - 9;
    if (h > kLimit)
        throw AutomationError::overflow();
    // Integer form of rounding (h + 9) / 10: exact, and the same as rounding
    // the floating-point quotient, whose halves are exact too.
    const quint32 n = h + 9;
    quint32 q = n / 10;
    const quint32 r = n % 10;
    if (r > 5 || (r == 5 && (q & 1)))
        ++q;
    return double(q);
}

double rlcFieldValue(QByteArrayView reply, RlcField field)
{
    const QByteArrayView block = statusBlock(reply);
    const QByteArrayView digits = block.sliced(field == RlcField::Length ? 0 : kFieldDigits, kFieldDigits);
    const std::optional<quint32> h = hexValue(digits);
    if (!h)
        throw AutomationError::typeMismatch();
    return rlcReading(*h);
}

} // namespace quorvex
