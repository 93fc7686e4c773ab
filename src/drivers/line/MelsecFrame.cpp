#include "drivers/line/MelsecFrame.h"

namespace quorvex {

QByteArray melsecFrame(const QByteArray &text)
{
    constexpr char kStx = 0x02;
    constexpr char kEtx = 0x03;
    const QByteArray body = text + kEtx;
    unsigned sum = 0;
    for (const char c : body)
        sum += static_cast<unsigned char>(c);
    return kStx + body + QByteArray::number(sum % 256, 16).rightJustified(2, '0').toUpper();
}

QByteArray melsecCommandFrame(const QString &parametri)
{
    if (parametri == QLatin1String("1"))
        return melsecFrame("70708");
    if (parametri == QLatin1String("2"))
        return melsecFrame("70608");
    if (parametri == QLatin1String("3"))
        return melsecFrame("70508");
    return {};
}

bool melsecAcknowledged(QByteArrayView answer)
{
    return !answer.isEmpty() && answer.front() == kMelsecAck;
}

} // namespace quorvex
