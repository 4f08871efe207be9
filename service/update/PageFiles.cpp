#include "PageFiles.h"

#include "ZipFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Largest total of unpacked bytes a page package may hold.
constexpr qint64 kMaxUnpacked = qint64(1) << 30;

} // namespace

// The page package unpacks whole or not at all: a refused entry (a name
// leaving the folder, a link, a damaged entry) fails it.
bool PageFiles::unzipFile(const QString &zipPath, const QString &folder)
{
    UnzipLimits limits;
    limits.maxTotalBytes = kMaxUnpacked;
    return unzipToFolder(
               QFile::encodeName(zipPath).constData(), QFile::encodeName(folder).constData(), limits)
        == 0;
}

QByteArray md5File(QIODevice &file)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    char block[4096];
    qint64 n;
    while ((n = file.read(block, sizeof block)) > 0)
        hash.addData(block, int(n));
    return n < 0 ? QByteArray() : hash.result();
}

QByteArray md5Buffer(const char *data, int length)
{
    if (!data)
        length = 0;
    else if (length == 0)
        length = int(qstrlen(data));
    return QCryptographicHash::hash(QByteArray::fromRawData(data, qMax(length, 0)), QCryptographicHash::Md5);
}

QString PageFiles::fileMd5Hex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray digest = md5File(file);
    return digest.isEmpty() ? QString() : QString::fromLatin1(digest.toHex());
}

int PageFiles::removeDirectory(const QString &folder, bool removeSelf)
{
    QDir dir(folder);
    if (!QFileInfo(folder).isDir() || QFileInfo(folder).isSymLink())
        return -2;
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            const int rc = removeDirectory(entry.absoluteFilePath(), true);
            if (rc != 0)
                return rc;
            continue;
        }
        // A link is removed itself, never what it points to.
        if (!entry.isSymLink())
            QFile::setPermissions(entry.absoluteFilePath(), QFile::ReadOwner | QFile::WriteOwner);
        if (!QFile::remove(entry.absoluteFilePath()) && !QFile(entry.absoluteFilePath()).remove())
            return -3;
    }
    if (removeSelf && !QDir().rmdir(folder))
        return -4;
    return 0;
}
