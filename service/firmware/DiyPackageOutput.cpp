// The output package: every plain file of a session's produce folder, packed
// as a zip with "/" names relative to that folder.

#include "DiyFirmware.h"
#include "FileIo.h"
#include "ServiceLog.h"
#include "ZipFolder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtGui/private/qzipwriter_p.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The output package is written under a name of its own beside the target
// and renamed into place once whole: another page saving to the same path at
// once, or a reader of the path, never meets a half-written or mixed zip.
// The names start with this after the target's own name (cut short).
QString tempPrefixFor(const QString &zipPath)
{
    const QFileInfo target(zipPath);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName().left(200)
        + QStringLiteral(".part-");
}

// Creates a fresh file named `prefix` and a random ending; its mode is what
// a new file gets (the umask applies). The descriptor, or -1.
int createFresh(const QString &prefix, QString *path)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = prefix + QString::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::open(
            QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

bool CDiyFirmware::makeProduceZip(const QString &sourceFolder, const QString &zipPath)
{
    if (!QFileInfo(sourceFolder).isDir()) {
        serviceLog("CDiyFirmware::makeProduceZip",
            QStringLiteral("no produce folder path:%1").arg(sourceFolder), ServiceLog::Error,
            ServiceLog::Diy);
        return false;
    }
    const QString prefix = tempPrefixFor(zipPath);
    QString tempPath;
    fileio::Fd temp(createFresh(prefix, &tempPath));
    bool ok = temp.fd >= 0;
    if (ok) {
        QFile file;
        ok = file.open(temp.fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
        if (ok) {
            QZipWriter writer(&file);
            // A zip chosen inside the folder is being written: it never goes
            // into itself, nor does a zip on its way to that place.
            ok = writer.isWritable()
                && addDirToZip(
                    &writer, sourceFolder, sourceFolder, QFileInfo(zipPath).absoluteFilePath(), prefix);
            // Closing writes the central directory and flushes the file.
            writer.close();
            ok = ok && writer.status() == QZipWriter::NoError && file.error() == QFileDevice::NoError;
        }
        ok = ok && ::fsync(temp.fd) == 0;
        const int fd = temp.fd;
        temp.fd = -1;
        ok = ::close(fd) == 0 && ok;
        ok = ok
            && ::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(zipPath).constData()) == 0;
        if (!ok)
            ::unlink(QFile::encodeName(tempPath).constData());
    }
    if (!ok) {
        // What was at the path before stays: it may be another page's whole package.
        serviceLog("CDiyFirmware::makeProduceZip", QStringLiteral("write zip failed path:%1").arg(zipPath),
            ServiceLog::Error, ServiceLog::Diy);
    }
    return ok;
}

bool CDiyFirmware::addDirToZip(QZipWriter *writer, const QString &folder, const QString &baseFolder,
    const QString &skipPath, const QString &skipPrefix)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir()) {
            if (!addDirToZip(writer, entry.filePath(), baseFolder, skipPath, skipPrefix))
                return false;
            continue;
        }
        const QString path = entry.absoluteFilePath();
        if (!entry.isFile() || path == skipPath || (!skipPrefix.isEmpty() && path.startsWith(skipPrefix)))
            continue;
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QString name = entry.filePath().mid(baseFolder.size() + 1);
        qDebug() << "addDirToZip" << name;
        writer->addFile(name, &file);
        if (writer->status() != QZipWriter::NoError)
            return false;
    }
    return true;
}

int CDiyFirmware::unzipProgram(const QByteArray &zipPath, const QByteArray &folder)
{
    return unzipToFolder(zipPath.constData(), folder.constData());
}

int CDiyFirmware::zipProduceFolder(int nSessionID)
{
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    const int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString folder = DiyText::get(info.produceFolder);
    const QString zipPath = folder + QLatin1Char('_')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")) + QStringLiteral(".zip");
    return zipFolder(QFile::encodeName(folder).constData(), QFile::encodeName(zipPath).constData());
}
