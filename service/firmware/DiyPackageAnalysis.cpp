// Unpacking and analysing a firmware package: the install description, the
// partition images and the device facts read from the custom partition.

#include "CramfsReader.h"
#include "DiyFirmware.h"
#include "PartitionImage.h"
#include "ServiceLog.h"
#include "SquashfsExtractor.h"
#include "ZipFolder.h"
#include "common/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kHeaderBytes = 64;
constexpr int kMaxFolderDepth = 64;

uint32_t bigEndian32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void zero(DiySessionInfo *info)
{
    std::memset(info, 0, sizeof(*info));
}

// What an outside extractor left: only folders and plain files stay, none
// with more than read, write and execute bits, all owned by us and usable by
// us. Device nodes, fifos and sockets go; links stay as links (they are never
// followed by the readers of the tree).
void tidyExtractedTree(const QByteArray &path, int depth)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        ::unlink(path.constData());
        return;
    }
    if (st.st_uid != ::getuid() || st.st_gid != ::getgid())
        (void)::lchown(path.constData(), ::getuid(), ::getgid());
    const mode_t owner = S_ISDIR(st.st_mode) ? S_IRWXU : (S_IRUSR | S_IWUSR);
    ::chmod(path.constData(), (st.st_mode & 0777) | owner);
    if (!S_ISDIR(st.st_mode) || depth > kMaxFolderDepth * 4)
        return;
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    for (const QByteArray &name : names)
        tidyExtractedTree(path + '/' + name, depth + 1);
}

// "0x%x": the hexadecimal number after "0x"; 0 when there is none.
uint32_t readHexText(const QString &text)
{
    if (!text.startsWith(QLatin1String("0x")))
        return 0;
    int end = 2;
    while (end < text.size() && end < 10 && std::isxdigit(text.at(end).toLatin1()))
        ++end;
    bool ok = false;
    const uint value = text.mid(2, end - 2).toUInt(&ok, 16);
    return ok ? value : 0;
}

} // namespace

int CDiyFirmware::dealUnzipWithProgram(const QString &packagePath, int nSessionID)
{
    serviceLog("CDiyFirmware::dealUnzipWithProgram",
        QStringLiteral("dealUnzipWithProgram begin nSessionID:%1").arg(nSessionID), ServiceLog::Normal,
        ServiceLog::Diy);
    DiySessionInfo info;
    zero(&info);
    int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    // What an earlier package of the session left in the record goes now.
    std::memset(info.partitions, 0, sizeof(info.partitions));
    std::memset(info.hardware, 0, sizeof(info.hardware));
    std::memset(info.firmName, 0, sizeof(info.firmName));
    std::memset(info.buildTime, 0, sizeof(info.buildTime));
    std::memset(info.customPartPath, 0, sizeof(info.customPartPath));
    r = updateSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;

    const QString programFolder = DiyText::get(info.programFolder);
    const QString unzipFolder = DiyText::get(info.unzipFolder);
    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("makeUnZipProgram begin"),
        ServiceLog::Normal, ServiceLog::Diy);
    const std::shared_ptr<const std::atomic<bool>> stop = stopFlag(nSessionID);
    UnzipLimits limits;
    limits.stop = stop.get();
    const int unzipped = unzipToFolder(
        QFile::encodeName(packagePath).constData(), QFile::encodeName(programFolder).constData(), limits);
    serviceLog("CDiyFirmware::dealUnzipWithProgram",
        QStringLiteral("makeUnZipProgram end nRet:%1").arg(unzipped), ServiceLog::Normal, ServiceLog::Diy);
    if (unzipped < 0) {
        serviceLog("CDiyFirmware::dealUnzipWithProgram",
            QStringLiteral("makeUnZipProgram error path:%1").arg(packagePath), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyUnzipFailed;
    }

    const QString descName = QStringLiteral("/InstallDesc");
    QByteArray desc;
    const DiyTree::Read read
        = DiyTree::readFile(unzipFolder, programFolder + descName, kMaxReadBytes, &desc, m_installDescRead);
    if (read == DiyTree::Read::CannotOpen) {
        serviceLog("CDiyFirmware::dealUnzipWithProgram",
            QStringLiteral("open file failed path:%1%2").arg(programFolder, descName), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyInstallDescOpen;
    }
    if (read == DiyTree::Read::TooLarge)
        return Ret::DiyNoMemory;
    if (read == DiyTree::Read::Short) {
        serviceLog("CDiyFirmware::dealUnzipWithProgram",
            QStringLiteral("read file failed path:%1%2").arg(programFolder, descName), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyInstallDescShort;
    }
    Json::Value installDesc;
    if (!JsonUtil::parse(desc.toStdString(), &installDesc)) {
        serviceLog("CDiyFirmware::dealUnzipWithProgram",
            QStringLiteral("read file failed InvalidJson path:%1%2").arg(programFolder, descName),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyBadJson;
    }

    QString hardware;
    if (JsonUtil::readString(installDesc, "Hardware", &hardware)) {
        DiyText::setCut(info.hardware, hardware);
        r = updateSessionInfo(nSessionID, &info);
        if (r != Ret::Ok)
            return r;
    }
    if (info.hardware[0] == '\0')
        return Ret::DiyNoHardware;

    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("confirmProgramUpall begin"),
        ServiceLog::Normal, ServiceLog::Diy);
    r = confirmProgramUpall(nSessionID, installDesc);
    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("confirmProgramUpall end nRet:%1").arg(r),
        ServiceLog::Normal, ServiceLog::Diy);
    if (r != Ret::Ok)
        return r;

    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("makePartUnImag begin"),
        ServiceLog::Normal, ServiceLog::Diy);
    const QStringList files = DiyTree::fileNames(unzipFolder, programFolder);
    int slot = 0;
    int last = Ret::Ok;
    QSet<QString> partNames;
    for (const QString &name : files) {
        if (!name.contains(QLatin1String(".img"), Qt::CaseInsensitive)
            || !name.contains(QLatin1String("-x"), Qt::CaseInsensitive))
            continue;
        if (slot >= DiySessionInfo::kPartitionSlots) {
            serviceLog("CDiyFirmware::dealUnzipWithProgram",
                QStringLiteral("too many partition images, refused:%1").arg(name), ServiceLog::Error,
                ServiceLog::Diy);
            continue;
        }
        const QString partName = name.section(QLatin1Char('.'), 0, 0);
        if (partNames.contains(partName)) {
            serviceLog("CDiyFirmware::dealUnzipWithProgram",
                QStringLiteral("second image of part %1 refused:%2").arg(partName, name), ServiceLog::Error,
                ServiceLog::Diy);
            continue;
        }
        partNames.insert(partName);
        last = makePartUnImag(name, programFolder + QLatin1Char('/') + name, nSessionID, slot++);
        // A partition over the cap refuses the whole package.
        if (last < 0 || last == Ret::DiyUnzipFailed)
            break;
    }
    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("makePartUnImag end nRet:%1").arg(last),
        ServiceLog::Normal, ServiceLog::Diy);
    if (last != Ret::Ok)
        return last;

    r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    QString customName;
    const QString customFolder = findCustomPartPath(nSessionID, &customName);
    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("getDevInfoFormCustom begin"),
        ServiceLog::Normal, ServiceLog::Diy);
    r = getDevInfoFormCustom(customFolder, nSessionID);
    serviceLog("CDiyFirmware::dealUnzipWithProgram",
        QStringLiteral("getDevInfoFormCustom end nRet:%1").arg(r), ServiceLog::Normal, ServiceLog::Diy);
    if (r != Ret::Ok)
        return r;
    serviceLog("CDiyFirmware::dealUnzipWithProgram", QStringLiteral("getLogoPartInfoFromCustom begin"),
        ServiceLog::Normal, ServiceLog::Diy);
    r = getLogoPartInfoFromCustom(customName, nSessionID, installDesc);
    serviceLog("CDiyFirmware::dealUnzipWithProgram",
        QStringLiteral("getLogoPartInfoFromCustom end nRet:%1").arg(r), ServiceLog::Normal, ServiceLog::Diy);
    return r;
}

int CDiyFirmware::confirmProgramUpall(int nSessionID, const Json::Value &installDesc)
{
    Q_UNUSED(nSessionID);
    const Json::Value &commands = JsonUtil::member(installDesc, "UpgradeCommand");
    if (commands.isNull())
        return Ret::DiyBadJson;
    if (!commands.isArray())
        return Ret::Ok;
    for (const Json::Value &command : commands) {
        const Json::Value &dir = JsonUtil::member(command, "DirName");
        const Json::Value &kind = JsonUtil::member(command, "Command");
        if (dir.isNull() || kind.isNull())
            continue;
        std::string dirText;
        std::string kindText;
        if (!JsonUtil::convertString(dir, &dirText) || !JsonUtil::convertString(kind, &kindText)) {
            serviceLog("CDiyFirmware::confirmProgramUpall",
                QStringLiteral("read UpgradeCommand failed json error"), ServiceLog::Error, ServiceLog::Diy);
            return Ret::DiyBadJson;
        }
        if (kindText == "RemoveDir" && (dirText == "/mnt/mtd/Config/" || dirText == "/mnt/mtd/"))
            return Ret::DiyRemovesConfig;
    }
    return Ret::Ok;
}

int CDiyFirmware::makePartUnImag(const QString &fileName, const QString &filePath, int nSessionID, int slot)
{
    if (slot < 0 || slot >= DiySessionInfo::kPartitionSlots)
        return Ret::DiyLogoArea;
    DiySessionInfo info;
    zero(&info);
    int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    DiyPartitionInfo part;
    std::memset(&part, 0, sizeof(part));
    DiyText::setCut(part.name, fileName);
    const QString partName = fileName.section(QLatin1Char('.'), 0, 0);
    if (!DiyText::set(part.imagePath, filePath) || partName.isEmpty()
        || partName.compare(QLatin1String("Program"), Qt::CaseInsensitive) == 0) {
        serviceLog("CDiyFirmware::makePartUnImag", QStringLiteral("open file failed path:%1").arg(filePath),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyImageOpen;
    }

    QFile image(filePath);
    if (!image.open(QIODevice::ReadOnly)) {
        serviceLog("CDiyFirmware::makePartUnImag", QStringLiteral("open file failed path:%1").arg(filePath),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyImageOpen;
    }
    const QByteArray header = image.read(kHeaderBytes);
    image.close();
    if (header.size() == kHeaderBytes) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(header.constData());
        part.startAddr = bigEndian32(bytes + 16);
        part.endAddr = bigEndian32(bytes + 20);
    }
    if (part.startAddr == 0 || part.endAddr == 0) {
        serviceLog("CDiyFirmware::makePartUnImag",
            QStringLiteral("get Image Address path:%1 start:%2 end:%3")
                .arg(filePath)
                .arg(part.startAddr)
                .arg(part.endAddr),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyImageAddress;
    }

    const QString partFolder = createPath(DiyText::get(info.unzipFolder) + QLatin1Char('/') + partName);
    QString strippedName = fileName;
    strippedName.remove(QStringLiteral(".img"));
    const QString stripped = partFolder + QLatin1Char('/') + strippedName;
    const QString rootPath = partFolder + QStringLiteral("/root");
    if (!DiyText::set(part.rootPath, rootPath)) {
        serviceLog("CDiyFirmware::makePartUnImag", QStringLiteral("path too long:%1").arg(rootPath),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyImageOpen;
    }
    const int strip
        = stripImageHeader(QFile::encodeName(filePath).constData(), QFile::encodeName(stripped).constData());
    if (strip < 0) {
        serviceLog("CDiyFirmware::makePartUnImag",
            QStringLiteral("makeunimage failed path:%1 Ret:%2").arg(filePath).arg(strip), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyHeaderStripBase + strip;
    }
    const int fsType = detectImageFsType(3, QFile::encodeName(stripped).constData(), nullptr, 0);
    if (fsType <= 0) {
        serviceLog("CDiyFirmware::makePartUnImag",
            QStringLiteral("GetFileFSType failed path:%1 Key:%2 Ret:%3").arg(stripped, partName).arg(fsType),
            ServiceLog::Error, ServiceLog::Diy);
        QFile::remove(stripped);
        return Ret::DiyUnknownFileSystem;
    }
    part.fsType = fsType;

    // Every extraction starts from an empty root folder. Its own answer is
    // not looked at, except that an image that would unpack to more than the
    // cap (or one whose session was stopped) refuses the package.
    removeDirRecursively(rootPath);
    const std::shared_ptr<const std::atomic<bool>> stop = stopFlag(nSessionID);
    bool refused = false;
    if (fsType == 2) {
        const Extraction extracted
            = extractSquashfs(QFile::encodeName(stripped), QFile::encodeName(rootPath), stop.get());
        refused = extracted == Extraction::OverCap || extracted == Extraction::Stopped;
    } else {
        CramfsLimits limits;
        limits.maxTotalBytes = uint64_t(std::max<qint64>(m_partitionMaxBytes, 0));
        limits.stop = stop.get();
        const int extracted = cramfsExtractImage(
            QFile::encodeName(stripped).constData(), QFile::encodeName(rootPath).constData(), limits);
        serviceLog("CDiyFirmware::makePartUnImag",
            QStringLiteral("cramfs extract path:%1 Ret:%2").arg(stripped).arg(extracted),
            extracted == 0 ? ServiceLog::Normal : ServiceLog::Error, ServiceLog::Diy);
        refused = extracted == CramfsLimitExceeded || extracted == CramfsStopped;
        if (refused)
            removeDirRecursively(rootPath);
    }
    if (refused) {
        QFile::remove(stripped);
        return Ret::DiyUnzipFailed;
    }

    if (!QFile::remove(stripped)) {
        serviceLog("CDiyFirmware::makePartUnImag", QStringLiteral("remove file failed path:%1").arg(stripped),
            ServiceLog::Error, ServiceLog::Diy);
        return Ret::DiyTempImageRemove;
    }
    part.used = 1;
    info.partitions[slot] = part;
    return updateSessionInfo(nSessionID, &info);
}

QString CDiyFirmware::unsquashfsProgram() const
{
    if (!m_unsquashfs.isEmpty())
        return m_unsquashfs;
    const QString beside = m_appDir + QStringLiteral("/unsquashfs");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStringLiteral("/usr/bin/unsquashfs");
}

int CDiyFirmware::runUnsquashfs(const QByteArray &imagePath, const QByteArray &targetFolder)
{
    switch (extractSquashfs(imagePath, targetFolder, nullptr)) {
    case Extraction::CannotStart:
        return Ret::DiyBatchWrite;
    case Extraction::OverCap:
    case Extraction::Stopped:
        return Ret::DiyUnzipFailed;
    case Extraction::Done:
        break;
    }
    return Ret::Ok;
}

CDiyFirmware::Extraction CDiyFirmware::extractSquashfs(
    const QByteArray &imagePath, const QByteArray &targetFolder, const std::atomic<bool> *stop)
{
    SquashfsExtractor::Settings settings;
    settings.program = unsquashfsProgram();
    settings.timeoutMs = m_extractTimeoutMs;
    settings.maxBytes = m_partitionMaxBytes;
    settings.stop = stop;
    const SquashfsExtractor::Result result = SquashfsExtractor::run(settings, imagePath, targetFolder);
    const QString image = QFile::decodeName(imagePath);
    switch (result.outcome) {
    case SquashfsExtractor::Outcome::CannotStart:
        serviceLog("CDiyFirmware::runUnsquashfs",
            QStringLiteral("start failed program:%1 error:%2").arg(settings.program, result.startError),
            ServiceLog::Error, ServiceLog::Diy);
        return Extraction::CannotStart;
    case SquashfsExtractor::Outcome::OverCap:
    case SquashfsExtractor::Outcome::Stopped:
        serviceLog("CDiyFirmware::runUnsquashfs",
            result.outcome == SquashfsExtractor::Outcome::Stopped
                ? QStringLiteral("stopped, ended path:%1").arg(image)
                : QStringLiteral("more than %1 bytes, refused path:%2").arg(m_partitionMaxBytes).arg(image),
            ServiceLog::Error, ServiceLog::Diy);
        removeDirRecursively(QFile::decodeName(targetFolder));
        return result.outcome == SquashfsExtractor::Outcome::Stopped ? Extraction::Stopped
                                                                     : Extraction::OverCap;
    case SquashfsExtractor::Outcome::TimedOut:
        serviceLog("CDiyFirmware::runUnsquashfs",
            QStringLiteral("time limit of %1 ms passed, ended path:%2").arg(m_extractTimeoutMs).arg(image),
            ServiceLog::Error, ServiceLog::Diy);
        break;
    case SquashfsExtractor::Outcome::Done:
    case SquashfsExtractor::Outcome::Failed:
        break;
    }
    const bool clean = result.outcome == SquashfsExtractor::Outcome::Done;
    serviceLog("CDiyFirmware::runUnsquashfs",
        QStringLiteral("unsquashfs path:%1 exit:%2 stderr:%3")
            .arg(image)
            .arg(result.killed ? QStringLiteral("killed") : QString::number(result.exitCode))
            .arg(result.errors.simplified().left(2000)),
        clean ? ServiceLog::Normal : ServiceLog::Error, ServiceLog::Diy);
    tidyExtractedTree(targetFolder, 0);
    return Extraction::Done;
}

QString CDiyFirmware::findCustomPartPath(int nSessionID, QString *partName)
{
    partName->clear();
    DiySessionInfo info;
    zero(&info);
    if (getSessionInfo(nSessionID, &info) != Ret::Ok)
        return QString();
    QString found;
    for (const DiyPartitionInfo &part : info.partitions) {
        if (part.used && DiyText::get(part.name).contains(QLatin1String("custom-x"))) {
            found = DiyText::get(part.rootPath);
            *partName = QStringLiteral("custom-x");
        }
    }
    if (!found.isEmpty())
        return found;
    const QString unzipFolder = DiyText::get(info.unzipFolder);
    found = findCustomFolder(unzipFolder);
    if (!found.isEmpty())
        *partName = found.mid(unzipFolder.size() + 1).section(QLatin1Char('/'), 0, 0);
    return found;
}

namespace {

QString findCustomFolderAt(const QString &folder, int depth)
{
    if (folder.isEmpty() || depth > kMaxFolderDepth)
        return QString();
    const QFileInfoList dirs = QDir(folder).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    if (QFileInfo(folder).fileName() == QLatin1String("custom")) {
        for (const QFileInfo &dir : dirs) {
            if (!dir.isSymLink() && dir.fileName() == QLatin1String("CustomConfig"))
                return folder;
        }
    }
    for (const QFileInfo &dir : dirs) {
        if (dir.isSymLink())
            continue;
        const QString found = findCustomFolderAt(dir.filePath(), depth + 1);
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

} // namespace

QString CDiyFirmware::findCustomFolder(const QString &folder)
{
    return findCustomFolderAt(folder, 0);
}

int CDiyFirmware::getDevInfoFormCustom(const QString &customFolder, int nSessionID)
{
    DiySessionInfo info;
    zero(&info);
    int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    if (!DiyText::set(info.customPartPath, customFolder))
        return Ret::DiyNoCustomPartition;
    const QString within = DiyText::get(info.unzipFolder);

    const QString infoPath = customFolder + QStringLiteral("/FirmwareInfo");
    QByteArray firmwareInfo;
    const int read = customFolder.isEmpty() ? int(Ret::DiyCustomTextOpen)
                                            : getBinDataFromLocalFile(infoPath, &firmwareInfo, within);
    if (read == Ret::DiyNoMemory)
        return Ret::DiyNoMemory;
    if (read != Ret::Ok) {
        serviceLog("CDiyFirmware::getDevInfoFormCustom",
            QStringLiteral("read file failed file is empty path:%1").arg(infoPath), ServiceLog::Error,
            ServiceLog::Diy);
        return Ret::DiyBadJson;
    }
    const QString hardware = DiyText::get(info.hardware);
    const QList<QByteArray> lines = firmwareInfo.split('\n');
    // The piece after the last line feed is no whole line.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString line = QString::fromLocal8Bit(lines.at(i));
        if (!line.contains(QLatin1String("NET_UPGRADE_FILE=")))
            continue;
        const QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1);
        DiyText::setCut(info.firmName, value);
        if (value.contains(QLatin1String("IPC")))
            info.devType = 0;
        else if (hardware.contains(QLatin1String("AHB")))
            info.devType = 1;
        else if (hardware.contains(QLatin1String("NBD")))
            info.devType = 2;
        else if (hardware.contains(QLatin1String("MVB")))
            info.devType = 3;
    }

    // The build time, only for recorders (type 1 or more).
    if (info.devType >= 1 && DiyTree::isFolder(within, customFolder + QStringLiteral("/qn_version"))) {
        QByteArray text;
        r = getBinDataFromLocalFile(customFolder + QStringLiteral("/qn_version/buildtime"), &text, within);
        serviceLog("CDiyFirmware::getDevInfoFormCustom",
            QStringLiteral("getBinDataFromLocalFile nRet:%1").arg(r), ServiceLog::Normal, ServiceLog::Diy);
        if (r != Ret::Ok)
            return r;
        const int colon = text.indexOf(':');
        if (colon >= 0) {
            const int lineEnd = text.indexOf('\n', colon + 1);
            const QByteArray value
                = lineEnd < 0 ? text.mid(colon + 1) : text.mid(colon + 1, lineEnd - colon - 1);
            DiyText::setCut(info.buildTime, QString::fromUtf8(value));
        }
    }

    info.channel = 0;
    if (info.devType == 0) {
        info.channel = 1;
    } else {
        const int dash = hardware.indexOf(QLatin1Char('-'));
        if (dash >= 3) {
            const QString digits = hardware.mid(dash - 3, 2);
            if (digits.size() == 2 && digits.at(0).isDigit() && digits.at(1).isDigit())
                info.channel = digits.toInt();
        }
    }
    serviceLog("CDiyFirmware::getDevInfoFormCustom",
        QStringLiteral("curdev devType:%1 Channel:%2").arg(info.devType).arg(info.channel),
        ServiceLog::Normal, ServiceLog::Diy);
    return updateSessionInfo(nSessionID, &info);
}

int CDiyFirmware::getLogoPartInfoFromCustom(
    const QString &customPartName, int nSessionID, const Json::Value &installDesc)
{
    DiySessionInfo info;
    zero(&info);
    int r = getSessionInfo(nSessionID, &info);
    if (r != Ret::Ok)
        return r;
    if (customPartName.isEmpty())
        return Ret::DiyNoCustomPartition;
    if (info.devType != 1 && info.devType != 2)
        return Ret::Ok;

    QString logoFile;
    const Json::Value &commands = JsonUtil::member(installDesc, "UpgradeCommand");
    if (commands.isArray()) {
        for (const Json::Value &command : commands) {
            QString fileName;
            if (JsonUtil::readString(command, "FileName", &fileName)
                && fileName.startsWith(QLatin1String("logo-x"))) {
                logoFile = fileName;
                serviceLog("CDiyFirmware::getLogoPartInfoFromCustom",
                    QStringLiteral("UpgradeCommand FileName:%1").arg(fileName), ServiceLog::Normal,
                    ServiceLog::Diy);
            }
        }
    }

    const QString definitionPath = DiyText::get(info.customPartPath) + QStringLiteral("/ProductDefinition");
    Json::Value definition;
    r = readJsonFile(definitionPath, &definition, DiyText::get(info.unzipFolder));
    serviceLog("CDiyFirmware::getLogoPartInfoFromCustom",
        QStringLiteral("path:%1 nRet:%2").arg(definitionPath).arg(r), ServiceLog::Normal, ServiceLog::Diy);
    if (r != Ret::Ok)
        return r;
    QString partType;
    if (!JsonUtil::readString(definition, "LogoPartType", &partType))
        return Ret::DiyNoLogoPartType;

    DiyPartitionInfo part;
    std::memset(&part, 0, sizeof(part));
    part.fsType = partType == QLatin1String("squashfs") ? 2 : 1;
    const Json::Value &area = JsonUtil::member(definition, "LogoArea");
    part.startAddr = readHexText(JsonUtil::stringOr(area, "Begin"));
    part.endAddr = readHexText(JsonUtil::stringOr(area, "End"));
    if (logoFile.isEmpty())
        logoFile
            = part.fsType == 2 ? QStringLiteral("logo-x.squashfs.img") : QStringLiteral("logo-x.cramfs.img");
    DiyText::setCut(part.name, logoFile);
    const QString unzipFolder = DiyText::get(info.unzipFolder);
    DiyText::setCut(part.imagePath, unzipFolder + QLatin1Char('/') + logoFile);
    DiyText::setCut(part.rootPath, unzipFolder + QStringLiteral("/logo-x/root"));

    bool freeSlot = false;
    for (const DiyPartitionInfo &slot : info.partitions)
        freeSlot = freeSlot || !slot.used;
    if (part.startAddr == 0 || part.endAddr <= part.startAddr || !freeSlot)
        return Ret::DiyLogoArea;
    return Ret::Ok;
}
