#include "PageDrain.h"

#include <QAbstractSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

void PageDrain::follow(QAbstractSocket *connection, QObject *owner)
{
    if (!connection || connection->socketDescriptor() < 0)
        return;
    const int fd = ::fcntl(int(connection->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return;
    auto *drain = new PageDrain(fd, owner);
    // Qt closes its descriptor once what it holds is written (or given up).
    connect(connection, &QAbstractSocket::disconnected, drain, &PageDrain::begin);
    connect(connection, &QObject::destroyed, drain, &PageDrain::begin);
    if (connection->state() == QAbstractSocket::UnconnectedState)
        drain->begin();
}

int PageDrain::running(const QObject *owner)
{
    return owner->findChildren<PageDrain *>(QString(), Qt::FindDirectChildrenOnly).size();
}

PageDrain::PageDrain(int fd, QObject *owner)
    : QObject(owner)
    , m_fd(fd)
{
    // Whatever Qt still does with its side, the page's time runs from its
    // close frame.
    QTimer::singleShot(kDrainMs, this, &PageDrain::finish);
}

PageDrain::~PageDrain()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PageDrain::begin()
{
    if (m_begun || m_fd < 0)
        return;
    m_begun = true;
    ::shutdown(m_fd, SHUT_WR);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PageDrain::readAway);
    readAway();
}

void PageDrain::readAway()
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The page closed its side, or the connection is gone.
        finish();
        return;
    }
}

void PageDrain::finish()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // Gone from running() at once; deleted on the next turn of the loop.
    setParent(nullptr);
    deleteLater();
}
