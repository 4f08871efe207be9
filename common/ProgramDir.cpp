#include "ProgramDir.h"

#include <QFileInfo>

#include <climits>
#include <unistd.h>

namespace ProgramDir {

QString executablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return QString();
    return QString::fromLocal8Bit(buf, int(n));
}

QString folder()
{
    const QString exe = executablePath();
    return exe.isEmpty() ? QStringLiteral(".") : QFileInfo(exe).absolutePath();
}

} // namespace ProgramDir
