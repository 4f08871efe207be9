#include "UserRuntime.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace UserRuntime {

namespace {

// A folder that only this user can enter, or empty when `path` is taken by
// someone else or is no real folder (a symbolic link planted in /tmp, say).
QString privateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    ::mkdir(native.constData(), 0700);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return QString();
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return QString();
    return path;
}

// A real folder of this user that no one else may write into.
bool ownedByThisUserOnly(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::getuid() && (st.st_mode & 022) == 0;
}

} // namespace

QString dir()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) {
        const QString checked = privateFolder(xdg);
        if (!checked.isEmpty())
            return checked;
    }
    const QString uid = QString::number(::getuid());
    const QString shared = privateFolder(QDir::tempPath() + QStringLiteral("/runtime-") + uid);
    if (!shared.isEmpty())
        return shared;
    // Another user may have taken the name in the shared folder first: then a
    // folder in this user's home, where nobody else can make one.
    const QString home = QDir::homePath();
    if (!ownedByThisUserOnly(home))
        return QString();
    return privateFolder(home + QStringLiteral("/.runtime-") + uid);
}

} // namespace UserRuntime
