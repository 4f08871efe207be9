#include "InstanceGuard.h"

#include "UserRuntime.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceGuard::InstanceGuard(const QString &name)
{
    const QString dir = UserRuntime::dir();
    if (!dir.isEmpty())
        m_path = dir + QLatin1Char('/') + name + QStringLiteral(".lock");
}

InstanceGuard::~InstanceGuard()
{
    release();
}

bool InstanceGuard::tryAcquire()
{
    if (m_fd >= 0)
        return true;
    m_error.clear();
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("no private runtime folder for the lock file");
        return false;
    }
    // Close-on-exec: a child (a player) must never keep the lock alive.
    const QByteArray path = QFile::encodeName(m_path);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error
            = QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK)
            m_error = QStringLiteral("cannot lock %1: %2")
                          .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstanceGuard::release()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
