#pragma once
// Fuzz targets parse under both decimal conventions: the first input byte
// picks Italian or English, the rest is the reply.
#include <QLocale>
#include <QString>
#include <cstddef>
#include <cstdint>

inline QString fuzzReply(const uint8_t *data, size_t size)
{
    if (size == 0)
        return QString();
    QLocale::setDefault(QLocale((data[0] & 1) ? QLocale::Italian : QLocale::English));
    return QString::fromLatin1(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
}
