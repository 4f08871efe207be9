#include "FtpPath.h"

#include <QFile>
#include <QStringList>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace FtpPath {

QString virtualPath(const QString &currentFolder, const QString &argument)
{
    QString arg = argument;
    arg.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString joined = arg.startsWith(QLatin1Char('/')) ? arg : currentFolder + QLatin1Char('/') + arg;
    QStringList parts;
    for (const QString &part : joined.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QString localPath(const QString &canonicalRoot, const QString &virtualPath)
{
    if (canonicalRoot.isEmpty() || !virtualPath.startsWith(QLatin1Char('/')))
        return QString();
    const QString base = canonicalRoot == QLatin1String("/") ? QString() : canonicalRoot;
    const QString local = virtualPath == QLatin1String("/") ? canonicalRoot : base + virtualPath;

    // The deepest part that exists decides; what is below it is made anew by
    // the command and cannot be a link.
    QByteArray existing = QFile::encodeName(local);
    struct stat st;
    while (::lstat(existing.constData(), &st) != 0) {
        const int slash = existing.lastIndexOf('/');
        if (slash <= 0)
            return QString();
        existing.truncate(slash);
    }
    char resolved[PATH_MAX];
    if (!::realpath(existing.constData(), resolved))
        return QString(); // a dangling or looping link
    const QString real = QFile::decodeName(resolved);
    if (real != canonicalRoot && !real.startsWith(base + QLatin1Char('/')))
        return QString();
    return local;
}

} // namespace FtpPath
