#include "serial/StableDeviceName.h"

#include <QDir>
#include <QFileInfo>

namespace quorvex {

QString stableDeviceName(const QString &device, const QString &folder)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    const QDir links(folder);
    for (const QFileInfo &link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return QString();
}

} // namespace quorvex
