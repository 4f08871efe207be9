#include "UserRuntime.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace UserRuntime {

QString dir()
{
    QString path = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (path.isEmpty()) {
        path = QDir::tempPath() + QStringLiteral("/runtime-") + QString::number(::getuid());
        QDir().mkpath(path);
        ::chmod(QFile::encodeName(path).constData(), 0700);
    }
    return path;
}

} // namespace UserRuntime
