// The output package: every plain file of a session's produce folder, packed
// as a zip with "/" names relative to that folder.

#include "DiyFirmware.h"
#include "ServiceLog.h"
#include "ZipFolder.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGui/private/qzipwriter_p.h>

bool CDiyFirmware::makeProduceZip(const QString &sourceFolder, const QString &zipPath)
{
    if (!QFileInfo(sourceFolder).isDir()) {
        serviceLog("CDiyFirmware::makeProduceZip",
            QStringLiteral("no produce folder path:%1").arg(sourceFolder), ServiceLog::Error,
            ServiceLog::Diy);
        return false;
    }
    bool ok = false;
    {
        QZipWriter writer(zipPath, QIODevice::WriteOnly | QIODevice::Truncate);
        if (writer.isWritable()) {
            // A zip chosen inside the folder is being written: it never goes into itself.
            const QString self = QFileInfo(zipPath).absoluteFilePath();
            ok = addDirToZip(&writer, sourceFolder, sourceFolder, self);
            writer.close();
            ok = ok && writer.status() == QZipWriter::NoError;
        }
    }
    if (!ok) {
        serviceLog("CDiyFirmware::makeProduceZip", QStringLiteral("write zip failed path:%1").arg(zipPath),
            ServiceLog::Error, ServiceLog::Diy);
        QFile::remove(zipPath);
    }
    return ok;
}

bool CDiyFirmware::addDirToZip(
    QZipWriter *writer, const QString &folder, const QString &baseFolder, const QString &skipPath)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir()) {
            if (!addDirToZip(writer, entry.filePath(), baseFolder, skipPath))
                return false;
            continue;
        }
        if (!entry.isFile() || entry.absoluteFilePath() == skipPath)
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
