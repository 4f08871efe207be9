#include "ClientRegistry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <minizip/unzip.h>

#include <sys/stat.h>

namespace {

// Largest total of unpacked bytes a page package may hold.
constexpr qint64 kMaxUnpacked = qint64(1) << 30;

bool safeEntryName(const QByteArray &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.contains('\\') || name.contains('\0'))
        return false;
    // "C:" and the like: a drive name is no folder of ours either.
    if (name.size() >= 2 && name[1] == ':')
        return false;
    for (const QByteArray &segment : name.split('/')) {
        if (segment == "..")
            return false;
    }
    return true;
}

// Link entries made on a Unix system carry their file mode in the high half
// of the external attributes.
bool isLinkEntry(const unz_file_info64 &info)
{
    const unsigned madeBy = unsigned(info.version >> 8);
    const unsigned mode = unsigned(info.external_fa >> 16);
    return madeBy == 3 && (mode & S_IFMT) == S_IFLNK;
}

class ZipReader
{
public:
    explicit ZipReader(const QString &path)
        : m_zip(unzOpen64(QFile::encodeName(path).constData()))
    { }
    ~ZipReader()
    {
        if (m_zip)
            unzClose(m_zip);
    }
    unzFile handle() const { return m_zip; }

private:
    unzFile m_zip;
};

} // namespace

bool ClientRegistry::unzipFile(const QString &zipPath, const QString &folder)
{
    ZipReader zip(zipPath);
    if (!zip.handle() || !QDir().mkpath(folder))
        return false;
    const QString base = QFileInfo(folder).canonicalFilePath();
    if (base.isEmpty())
        return false;
    qint64 total = 0;
    QByteArray buffer(65536, Qt::Uninitialized);
    for (int rc = unzGoToFirstFile(zip.handle()); rc == UNZ_OK; rc = unzGoToNextFile(zip.handle())) {
        unz_file_info64 info {};
        char name[4096];
        if (unzGetCurrentFileInfo64(zip.handle(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        const QByteArray entry(name);
        if (!safeEntryName(entry) || isLinkEntry(info) || int(info.size_filename) >= int(sizeof name))
            return false;
        const QString target = base + QLatin1Char('/') + QString::fromUtf8(entry);
        if (entry.endsWith('/')) {
            if (!QDir().mkpath(target))
                return false;
            continue;
        }
        const QString parent = QFileInfo(target).path();
        if (!QDir().mkpath(parent))
            return false;
        // The folder reached must still be inside the base (no link on the way).
        const QString realParent = QFileInfo(parent).canonicalFilePath();
        if (realParent != base && !realParent.startsWith(base + QLatin1Char('/')))
            return false;
        if (unzOpenCurrentFile(zip.handle()) != UNZ_OK)
            return false;
        QFile out(target);
        bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (;;) {
            if (!ok)
                break;
            const int n = unzReadCurrentFile(zip.handle(), buffer.data(), unsigned(buffer.size()));
            if (n == 0)
                break;
            total += n;
            if (n < 0 || total > kMaxUnpacked || out.write(buffer.constData(), n) != n)
                ok = false;
        }
        // A damaged entry fails its checksum here.
        if (unzCloseCurrentFile(zip.handle()) != UNZ_OK)
            ok = false;
        if (!ok)
            return false;
    }
    return true;
}

QString ClientRegistry::fileMd5Hex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    char block[4096];
    qint64 n;
    while ((n = file.read(block, sizeof block)) > 0)
        hash.addData(block, int(n));
    if (n < 0)
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

int ClientRegistry::removeDirectory(const QString &folder, bool removeSelf)
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
