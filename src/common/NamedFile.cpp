#include "common/NamedFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvex {

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindProblem(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("is a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a named pipe (FIFO), not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("is a device, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("is a socket, not a file");
    return QStringLiteral("is not a regular file");
}

} // namespace

NamedFile readNamedFile(const QString &path, qint64 maxBytes)
{
    NamedFile out;
    const auto refuse = [&out](const QString &why) {
        out.status = NamedFile::Status::Refused;
        out.problem = why;
        return out;
    };
    // Non-blocking open: a FIFO without a writer or a modem line does not
    // hold the caller; it is refused below by its kind.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            out.problem = QStringLiteral("does not exist");
            return out;
        }
        return refuse(errnoText(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(errnoText(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(kindProblem(info.st_mode));
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return refuse(QStringLiteral("is larger than %1 bytes (%2)").arg(maxBytes).arg(qint64(info.st_size)));
    }
    // One byte more than allowed, so a file that grew meanwhile is seen.
    out.bytes.resize(qsizetype(maxBytes) + 1);
    qsizetype got = 0;
    while (got < out.bytes.size()) {
        const ssize_t n = ::read(fd, out.bytes.data() + got, size_t(out.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return refuse(errnoText(error));
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > maxBytes)
        return refuse(QStringLiteral("is larger than %1 bytes").arg(maxBytes));
    out.bytes.resize(got);
    out.status = NamedFile::Status::Read;
    return out;
}

} // namespace quorvex
