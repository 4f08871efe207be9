#include "DataCenter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
CDataCenter *g_dataCenter = nullptr;
}

CDataCenter *CDataCenter::instance()
{
    if (!g_dataCenter)
        g_dataCenter = new CDataCenter;
    return g_dataCenter;
}

void CDataCenter::releaseInstance()
{
    delete g_dataCenter;
    g_dataCenter = nullptr;
}

int CDataCenter::DeleteDirectory(const QString &path, bool removeSelf)
{
    QDir dir(path);
    const QFileInfoList entries = dir.entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &fi : entries) {
        if (fi.isDir() && !fi.isSymLink()) {
            const int ret = DeleteDirectory(fi.absoluteFilePath(), true);
            if (ret != 0)
                return ret;
            continue;
        }
        // A file, or a link (to a file or a folder): remove the entry itself.
        if (!fi.isSymLink())
            QFile::setPermissions(fi.absoluteFilePath(),
                QFile::permissions(fi.absoluteFilePath()) | QFile::ReadOwner | QFile::WriteOwner);
        if (!QFile::remove(fi.absoluteFilePath()))
            return -3;
    }
    if (removeSelf && !dir.rmdir(dir.absolutePath()))
        return -4;
    return 0;
}
