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

} // namespace

QString dir()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) {
        const QString checked = privateFolder(xdg);
        if (!checked.isEmpty())
            return checked;
    }
    return privateFolder(QDir::tempPath() + QStringLiteral("/runtime-") + QString::number(::getuid()));
}

} // namespace UserRuntime
