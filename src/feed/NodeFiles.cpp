#include "feed/NodeFiles.h"

#include "common/AppFolders.h"
#include "common/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quorvex {

namespace {

const QString kBdSeqFile = QStringLiteral("sparkplug-bdseq");
const QString kCoilFile = QStringLiteral("sparkplug-coil");
const QString kBacklogFile = QStringLiteral("sparkplug-backlog.jsonl");
// A backlog file larger than this is not one the node wrote.
constexpr qint64 kLargestBacklog = 16 * 1024 * 1024;

std::optional<qint64> readNumber(const QString &name)
{
    QFile file(nodeFilePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qint64 value = file.read(32).trimmed().toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// Replaces the file whole; one warning for the first failure of each file.
bool writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = nodeFilePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    static QStringList warned;
    if (!warned.contains(name)) {
        warned.append(name);
        qCWarning(lcFeed).noquote() << QStringLiteral("Sparkplug B: cannot write %1: %2; what it keeps is lost "
                                                      "when the server ends")
                                           .arg(path, file.errorString());
    }
    return false;
}

} // namespace

std::optional<qint64> readLastCoilSent()
{
    return readNumber(kCoilFile);
}

bool writeLastCoilSent(qint64 id)
{
    return writeFile(kCoilFile, QByteArray::number(id) + '\n');
}

QList<QByteArray> readBacklog()
{
    QFile file(nodeFilePath(kBacklogFile));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestBacklog)
        return {};
    QList<QByteArray> lines;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines.append(line);
    return lines;
}

bool writeBacklog(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + '\n';
    return writeFile(kBacklogFile, bytes);
}

QString nodeFilePath(const QString &name)
{
    return appFolder(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + name;
}

std::optional<int> readLastBdSeq()
{
    const std::optional<qint64> value = readNumber(kBdSeqFile);
    if (!value || *value > 255)
        return std::nullopt;
    return int(*value);
}

bool writeLastBdSeq(int bdSeq)
{
    return writeFile(kBdSeqFile, QByteArray::number(bdSeq) + '\n');
}

} // namespace quorvex
