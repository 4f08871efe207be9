#include "DiyFirmware.h"
#include "DiyTree.h"

#include "common/Json.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

CDiyFirmware *g_instance = nullptr;

// Makes an entry of a folder we are about to empty writable and listable by us.
void addOwnerAccess(const QByteArray &path, const struct stat &st)
{
    const mode_t wanted = S_ISDIR(st.st_mode) ? (S_IRWXU) : (S_IRUSR | S_IWUSR);
    if ((st.st_mode & wanted) != wanted)
        ::chmod(path.constData(), (st.st_mode & 07777) | wanted);
}

// Empties and removes `path` without following links. `filesOnly`: only plain
// files go, folders stay. False at the first entry that cannot be removed.
bool removeTree(const QByteArray &path, bool filesOnly)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (filesOnly && !S_ISREG(st.st_mode))
            return true;
        return ::unlink(path.constData()) == 0 || errno == ENOENT;
    }
    addOwnerAccess(path, st);
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return false;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    for (const QByteArray &name : names) {
        if (!removeTree(path + '/' + name, filesOnly))
            return false;
    }
    if (filesOnly)
        return true;
    return ::rmdir(path.constData()) == 0 || errno == ENOENT;
}

} // namespace

CDiyFirmware *CDiyFirmware::instance()
{
    if (!g_instance)
        g_instance = new CDiyFirmware(QCoreApplication::applicationDirPath());
    return g_instance;
}

void CDiyFirmware::releaseInstance()
{
    if (g_instance)
        g_instance->removeAllSessions();
    delete g_instance;
    g_instance = nullptr;
}

CDiyFirmware::CDiyFirmware(const QString &appDir)
    : m_appDir(appDir)
{ }

CDiyFirmware::~CDiyFirmware()
{
    qDeleteAll(m_sessions);
}

int CDiyFirmware::addSessionInfo(int nSessionID, DiySessionInfo *info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    info->sessionId = nSessionID;
    DiySessionInfo *&slot = m_sessions[nSessionID];
    if (slot != info)
        delete slot;
    slot = info;
    return Ret::Ok;
}

int CDiyFirmware::getSessionInfo(int nSessionID, DiySessionInfo *out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.constFind(nSessionID);
    if (it == m_sessions.constEnd() || !it.value() || it.value()->sessionId != nSessionID)
        return Ret::DiyNoSession;
    std::memcpy(out, it.value(), sizeof(DiySessionInfo));
    return Ret::Ok;
}

int CDiyFirmware::updateSessionInfo(int nSessionID, const DiySessionInfo *info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(nSessionID);
    if (it == m_sessions.end())
        return Ret::DiyNoSession;
    if (!it.value())
        return Ret::DiyNoRecordEntry;
    if (it.value() != info)
        std::memcpy(it.value(), info, sizeof(DiySessionInfo));
    return Ret::Ok;
}

int CDiyFirmware::removeSessionInfo(int nSessionID)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopFlags.remove(nSessionID);
    const auto it = m_sessions.find(nSessionID);
    if (it == m_sessions.end())
        return Ret::DiyNoSession;
    delete it.value();
    m_sessions.erase(it);
    return 1;
}

std::shared_ptr<const std::atomic<bool>> CDiyFirmware::stopFlag(int nSessionID)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<std::atomic<bool>> &flag = m_stopFlags[nSessionID];
    if (!flag)
        flag = std::make_shared<std::atomic<bool>>(false);
    return flag;
}

void CDiyFirmware::stopSession(int nSessionID)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<std::atomic<bool>> &flag = m_stopFlags[nSessionID];
    if (!flag)
        flag = std::make_shared<std::atomic<bool>>(true);
    flag->store(true);
}

bool CDiyFirmware::isSessionFolderName(const QString &name)
{
    const int underscore = name.lastIndexOf(QLatin1Char('_'));
    if (underscore < 0 || underscore + 1 == name.size() || name.size() - underscore - 1 > 10)
        return false;
    for (int i = underscore + 1; i < name.size(); ++i) {
        if (name.at(i) < QLatin1Char('0') || name.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

void CDiyFirmware::removeLeftSessionFolders()
{
    for (const char *area : { "/UnZip", "/Produce" }) {
        const QByteArray folder = QFile::encodeName(m_appDir + QLatin1String(area));
        struct stat st;
        if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        DIR *dir = ::opendir(folder.constData());
        if (!dir)
            continue;
        QList<QByteArray> names;
        while (const dirent *entry = ::readdir(dir))
            names.append(QByteArray(entry->d_name));
        ::closedir(dir);
        for (const QByteArray &name : names) {
            const QByteArray path = folder + '/' + name;
            if (isSessionFolderName(QFile::decodeName(name)) && ::lstat(path.constData(), &st) == 0
                && S_ISDIR(st.st_mode))
                removeTree(path, false);
        }
    }
}

void CDiyFirmware::removeAllSessions()
{
    QList<QString> folders;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const DiySessionInfo *info : qAsConst(m_sessions)) {
            if (info)
                folders << DiyText::get(info->unzipFolder) << DiyText::get(info->produceFolder);
        }
        qDeleteAll(m_sessions);
        m_sessions.clear();
        m_stopFlags.clear();
    }
    for (const QString &folder : qAsConst(folders))
        removeDirRecursively(folder);
}

QString CDiyFirmware::createPath(const QString &path)
{
    if (path.isEmpty() || QFileInfo::exists(path))
        return path;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0)
        createPath(path.left(slash));
    QDir().mkpath(path);
    return path;
}

bool CDiyFirmware::removeFilesRecursively(const QString &folder)
{
    return removeTree(QFile::encodeName(folder), true);
}

bool CDiyFirmware::removeDirRecursively(const QString &folder)
{
    if (folder.isEmpty())
        return true;
    return removeTree(QFile::encodeName(folder), false);
}

int CDiyFirmware::getBinDataFromLocalFile(const QString &path, QByteArray *out, const QString &within)
{
    switch (DiyTree::readFile(within, path, kMaxReadBytes, out)) {
    case DiyTree::Read::Ok:
        return Ret::Ok;
    case DiyTree::Read::Short:
        return out->isEmpty() ? Ret::DiyEmptyFile : Ret::Ok;
    case DiyTree::Read::Empty:
        return Ret::DiyEmptyFile;
    case DiyTree::Read::TooLarge:
        return Ret::DiyNoMemory;
    case DiyTree::Read::CannotOpen:
        break;
    }
    return Ret::DiyCustomTextOpen;
}

int CDiyFirmware::readJsonFile(const QString &path, Json::Value *out, const QString &within)
{
    QByteArray data;
    int r = getBinDataFromLocalFile(path, &data, within);
    if (r == Ret::DiyCustomTextOpen)
        return Ret::DiyJsonOpen;
    if (r != Ret::Ok)
        return r;
    if (data.isEmpty())
        return Ret::DiyJsonEmpty;
    return JsonUtil::parse(data.toStdString(), out) ? Ret::Ok : Ret::DiyBadJson;
}
