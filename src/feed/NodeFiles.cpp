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

} // namespace

QString nodeFilePath(const QString &name)
{
    return appFolder(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + name;
}

std::optional<int> readLastBdSeq()
{
    QFile file(nodeFilePath(kBdSeqFile));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int value = file.read(16).trimmed().toInt(&ok);
    if (!ok || value < 0 || value > 255)
        return std::nullopt;
    return value;
}

bool writeLastBdSeq(int bdSeq)
{
    const QString path = nodeFilePath(kBdSeqFile);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(bdSeq) + '\n') > 0 && file.commit())
        return true;
    static bool warned = false;
    if (!std::exchange(warned, true))
        qCWarning(lcFeed).noquote() << QStringLiteral("Sparkplug B: cannot keep the bdSeq in %1: %2; a restarted server "
                                                      "may number its first connection as this one")
                                           .arg(path, file.errorString());
    return false;
}

} // namespace quorvex
