#pragma once
// Reading a file a setting names (a password, a certificate, the settings
// file itself) without ever blocking or growing without bound: only a
// regular file of at most maxBytes is read; a FIFO, a device, a folder or
// a larger file is refused with the reason.
#include <QByteArray>
#include <QString>

namespace quorvex {

struct NamedFile {
    enum class Status { Read, Missing, Refused };
    Status status = Status::Missing;
    QByteArray bytes; // the whole file, when Read
    QString problem; // why not, e.g. "is a named pipe (FIFO)"
};

NamedFile readNamedFile(const QString &path, qint64 maxBytes);

} // namespace quorvex
