#pragma once
// Fuzz targets parse under both decimal conventions: the first input byte
// picks Italian or English, the rest is the reply.
#include <QByteArrayView>
#include <QLocale>
#include <cstddef>
#include <cstdint>

inline QByteArrayView fuzzReply(const uint8_t *data, size_t size)
{
    if (size == 0)
        return {};
    QLocale::setDefault(QLocale((data[0] & 1) ? QLocale::Italian : QLocale::English));
    return QByteArrayView(data + 1, qsizetype(size - 1));
}
