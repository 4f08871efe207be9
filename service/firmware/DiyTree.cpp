#include "DiyTree.h"
#include "FileIo.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DiyTree {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

using fileio::Fd;

// The levels of `path` below `root`; false when it is not below it or a
// level is "." or "..".
bool levelsBelow(const QString &root, const QString &path, QList<QByteArray> *levels)
{
    levels->clear();
    if (root.isEmpty() || path.isEmpty())
        return false;
    QString below;
    if (path != root) {
        const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
        if (!path.startsWith(prefix))
            return false;
        below = path.mid(prefix.size());
    }
    const QStringList parts = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
        levels->append(QFile::encodeName(part));
    }
    return true;
}

// Opens the folders `levels[0..count)` below an open folder, one at a time.
int openLevels(int from, const QList<QByteArray> &levels, int count)
{
    int current = ::dup(from);
    for (int i = 0; i < count && current >= 0; ++i) {
        const int next = ::openat(current, levels.at(i).constData(), kFolderFlags);
        ::close(current);
        current = next;
    }
    return current;
}

int openRoot(const QString &root)
{
    return ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

int openFolder(const QString &root, const QString &path)
{
    QList<QByteArray> levels;
    if (!levelsBelow(root, path, &levels))
        return -1;
    Fd top(openRoot(root));
    if (top.fd < 0)
        return -1;
    return openLevels(top.fd, levels, levels.size());
}

bool isFolder(const QString &root, const QString &path)
{
    Fd folder(openFolder(root, path));
    return folder.fd >= 0;
}

QStringList fileNames(const QString &root, const QString &path)
{
    QStringList names;
    const int fd = openFolder(root, path);
    if (fd < 0)
        return names;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent *entry = ::readdir(dir)) {
        struct stat st;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = a.toLower().compare(b.toLower());
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

Read readFile(const QString &root, const QString &path, qint64 maxBytes, QByteArray *out, ReadCall readCall)
{
    out->clear();
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0 || slash + 1 == path.size())
        return Read::CannotOpen;
    const QString folderPath = path.left(slash);
    const QByteArray leaf = QFile::encodeName(path.mid(slash + 1));
    if (leaf == "." || leaf == "..")
        return Read::CannotOpen;
    Fd folder(root.isEmpty() ? openRoot(folderPath) : openFolder(root, folderPath));
    if (folder.fd < 0)
        return Read::CannotOpen;
    // Non-blocking: a fifo put in a file's place never holds the reader.
    Fd file(::openat(folder.fd, leaf.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return Read::CannotOpen;
    if (st.st_size == 0)
        return Read::Empty;
    if (st.st_size > maxBytes)
        return Read::TooLarge;
    out->resize(int(st.st_size));
    qint64 done = 0;
    while (done < st.st_size) {
        const ssize_t n = readCall ? readCall(file.fd, out->data() + done, size_t(st.st_size - done))
                                   : ::read(file.fd, out->data() + done, size_t(st.st_size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    out->truncate(int(done));
    return done < st.st_size ? Read::Short : Read::Ok;
}

} // namespace DiyTree
