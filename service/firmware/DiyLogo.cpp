// Logos of a package: the chosen picture checked against its type's format
// and limits, and copied to its fixed place in the produce tree.

#include "DiyFirmware.h"
#include "DiyTree.h"
#include "ImageSize.h"
#include "ServiceLog.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace {

constexpr qint64 kBootLogoBytes = 120000;
constexpr qint64 kCloseLogoBytes = 122880;
constexpr int kLogoMaxWidth = 800;
constexpr int kLogoMaxHeight = 600;

struct LogoPlace
{
    const char *root; // below the produce folder
    const char *subFolder; // or null
    const char *fileName;
};

// By logo type 0 to 5; the folder names are the device's own ("/Colse" too).
const LogoPlace kLogoPlaces[] = {
    { "/logo", nullptr, "/trvnet.jpg" },
    { "/logo", "/Colse", "/close.jpg" },
    { "/logo", "/VideoLoss", "/videoLoss.gif" },
    { "/logo", "/VideoBlank", "/blind.gif" },
    { "/webLogo", nullptr, "/LoginTopLogo.png" },
    { "/webLogo", nullptr, "/logo.png" },
};
constexpr int kLogoTypes = int(sizeof kLogoPlaces / sizeof kLogoPlaces[0]);

} // namespace

int CDiyFirmware::checkLogoFormat(const QString &path, int logoType)
{
    const QByteArray file = QFile::encodeName(path);
    const QFileInfo info(path);
    auto fail = [](const QString &message, int code) {
        serviceLog("CDiyFirmware::checkLogoFormat", message, ServiceLog::Error, ServiceLog::Diy);
        return code;
    };
    switch (logoType) {
    case 0:
    case 1: {
        const bool boot = logoType == 0;
        const qint64 limit = boot ? kBootLogoBytes : kCloseLogoBytes;
        if (info.size() > limit)
            return fail(
                QString::fromLatin1(boot ? "boot pmg size big:%1" : "close pmg size big:%1").arg(info.size()),
                Ret::DiyLogoTooLarge);
        const std::unique_ptr<DecodedPicture> picture
            = info.isFile() ? GetJPGWidthHeight(file.constData(), 0) : nullptr;
        if (!picture)
            return fail(QString::fromLatin1(boot ? "boot load failed" : "close load failed"),
                boot ? Ret::DiyBootLogo : Ret::DiyCloseLogo);
        if (picture->width > kLogoMaxWidth || picture->height > kLogoMaxHeight || picture->height == 0)
            return fail(QString::fromLatin1(boot ? "bool pmg size abnormal" : "close pmg size abnormal"),
                Ret::DiyLogoSize);
        return 1;
    }
    case 2:
    case 3: {
        const bool loss = logoType == 2;
        if (!info.isFile() || !GetGIFWidthHeight(file.constData()))
            return fail(QString::fromLatin1(loss ? "loss load failed" : "blind load failed"),
                loss ? Ret::DiyVideoLossLogo : Ret::DiyBlindLogo);
        return 1;
    }
    case 4:
    case 5: {
        int width = 0;
        int height = 0;
        if (!info.isFile() || GetPNGWidthHeight(file.constData(), &width, &height) != 0)
            return fail(QStringLiteral("web logo load failed"), Ret::DiyWebLogo);
        const bool accepted
            = logoType == 4 ? (width == 417 || height == 223) : (width == 200 || height == 50);
        if (!accepted)
            return fail(QStringLiteral("web logo resolution abnormal"), Ret::DiyWebLogoResolution);
        return 1;
    }
    default:
        return 1;
    }
}

int CDiyFirmware::dealWithLogo(int nSessionID, const QString &path, int logoType)
{
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    if (getSessionInfo(nSessionID, &info) != Ret::Ok)
        return Ret::DiyNoSession;
    const QString produce = DiyText::get(info.produceFolder);
    if (logoType < 0 || logoType >= kLogoTypes) {
        // No file name: the target would be the logo folder itself.
        serviceLog("CDiyFirmware::dealWithLogo",
            QStringLiteral("copy file failed path:%1, DestPath:%2")
                .arg(path, produce + QStringLiteral("/logo")),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyLogoCopy;
    }
    const LogoPlace &place = kLogoPlaces[logoType];
    QString target = createPath(produce + QLatin1String(place.root));
    if (place.subFolder)
        target = createPath(target + QLatin1String(place.subFolder));
    target += QLatin1String(place.fileName);
    QFile::remove(target);
    if (!QFileInfo(path).isFile() || !QFile::copy(path, target)) {
        serviceLog("CDiyFirmware::dealWithLogo",
            QStringLiteral("copy file failed path:%1, DestPath:%2").arg(path, target), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyLogoCopy;
    }
    return Ret::Ok;
}

int CDiyFirmware::readPowerOnLogo(int nSessionID)
{
    DiySessionInfo info;
    std::memset(&info, 0, sizeof(info));
    const int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    const QString source = DiyText::get(info.unzipFolder) + QStringLiteral("/logo-x/root/trvnet.jpg");
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists() && !sourceInfo.isSymLink())
        return Ret::Ok;
    const QString target = createPath(DiyText::get(info.produceFolder) + QStringLiteral("/logo/"))
        + QStringLiteral("trvnet.jpg");
    QFile::remove(target);
    // Only the package's own file: no link in the unpacked partition is followed.
    QByteArray picture;
    const DiyTree::Read read
        = DiyTree::readFile(DiyText::get(info.unzipFolder), source, kMaxReadBytes, &picture);
    QFile copy(target);
    if ((read != DiyTree::Read::Ok && read != DiyTree::Read::Empty)
        || !copy.open(QIODevice::WriteOnly | QIODevice::Truncate) || copy.write(picture) != picture.size()) {
        copy.remove();
        serviceLog("CDiyFirmware::readPowerOnLogo",
            QStringLiteral("copy file failed path:%1 Destpath:%2").arg(source, target), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyLogoCopy;
    }
    return Ret::Ok;
}
