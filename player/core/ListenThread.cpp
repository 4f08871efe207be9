#include "ListenThread.h"

#include "LightWeightLog.h"
#include "common/PollBeforeSleep.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ListenThread::ListenThread(const QString &serverName, QObject *parent, int connectTimeoutMs)
    : QObject(parent)
{
    // The service may still be setting up its server: try again until the time is up.
    QLocalSocket socket;
    QDeadlineTimer deadline(qMax(0, connectTimeoutMs));
    int pauseMs = 10;
    for (;;) {
        socket.connectToServer(serverName, QIODevice::ReadWrite);
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime())))) {
            m_bConnected = true;
            break;
        }
        socket.abort();
        if (deadline.hasExpired())
            break;
        QThread::msleep(ulong(qMin<qint64>(pauseMs, deadline.remainingTime())));
        pauseMs = qMin(pauseMs * 2, 200);
    }
    if (!m_bConnected) {
        playerLog("ListenThread::ListenThread",
            QStringLiteral("can't connect to plugin server,serverName:%1").arg(serverName),
            LightWeightLog::Error);
        return;
    }

    // The link is read and written on handles of its own: a read is one
    // system call, with no size query and no copy through a socket object's
    // buffer. The connecting socket closes its handle when it goes.
    m_readFd = ::fcntl(int(socket.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    m_writeFd = ::fcntl(int(socket.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (m_readFd < 0 || m_writeFd < 0) {
        playerLog("ListenThread::ListenThread", QStringLiteral("can't keep the link to the plugin server"),
            LightWeightLog::Error);
        m_bConnected = false;
        return;
    }
    ::fcntl(m_readFd, F_SETFL, ::fcntl(m_readFd, F_GETFL) | O_NONBLOCK);
    // Enabled by start, on the thread that reads.
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &ListenThread::onReadyRead);
}

void ListenThread::start(QThread *readThread)
{
    if (!m_bConnected || m_thread || m_readThread)
        return;
    if (readThread) {
        m_readThread = readThread;
        moveToThread(readThread);
    } else {
        m_thread = new QThread(this);
        moveToThread(m_thread);
        m_thread->start(QThread::InheritPriority);
    }
    // Bytes that arrived before the thread took over are read at once. A
    // thread that handles the requests itself looks for the next one a while
    // before it sleeps.
    const bool handlesRequests = readThread != nullptr;
    QMetaObject::invokeMethod(
        this,
        [this, handlesRequests] {
            if (handlesRequests) {
                if (PollBeforeSleep *poll = PollBeforeSleep::forCurrentThread(kPollBeforeSleepUs))
                    poll->watch(m_writeFd);
            }
            if (m_notifier)
                m_notifier->setEnabled(true);
            onReadyRead();
        },
        Qt::QueuedConnection);
}

ListenThread::~ListenThread()
{
    stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (m_writeFd >= 0)
        ::close(m_writeFd);
    m_writeFd = -1;
}

void ListenThread::stop()
{
    if (m_readThread) {
        // The reading thread gives the link back once it gets to it; no
        // further message is read, and the end of the link is not reported.
        QThread *home = QThread::currentThread();
        m_readThread = nullptr;
        QMetaObject::invokeMethod(
            this,
            [this, home] {
                if (m_notifier)
                    m_notifier->setEnabled(false);
                if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
                    poll->unwatch(m_writeFd);
                moveToThread(home);
            },
            QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
        return;
    }
    if (!m_thread || !m_thread->isRunning())
        return;
    m_thread->quit();
    if (QThread::currentThread() != m_thread)
        m_thread->wait();
}

void ListenThread::onSendMsg(QString msg)
{
    const QByteArray payload = msg.toUtf8();
    if (quint32(payload.size()) > LinkFrame::kMaxPayload) {
        playerLog("ListenThread::onSendMsg",
            QStringLiteral("message of %1 bytes is over the frame limit, not sent").arg(payload.size()),
            LightWeightLog::Error);
        return;
    }
    const QByteArray frame = LinkFrame::encode(payload);
    std::lock_guard<std::mutex> lock(m_writeMutex);
    const char *from = frame.constData();
    size_t left = size_t(frame.size());
    while (m_writeFd >= 0 && left > 0) {
        const ssize_t n = ::send(m_writeFd, from, left, MSG_NOSIGNAL);
        if (n > 0) {
            from += n;
            left -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The service reads behind: wait until it has room, or is gone.
            pollfd room { m_writeFd, POLLOUT, 0 };
            if (::poll(&room, 1, -1) < 0 && errno != EINTR)
                break;
            if (room.revents & (POLLERR | POLLHUP | POLLNVAL))
                break;
            continue;
        }
        break; // the link has ended; its end is reported by the reader
    }
    if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
        poll->noteSent();
}

bool ListenThread::peerClosed() const
{
    pollfd watched { m_readFd, POLLRDHUP, 0 };
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void ListenThread::onReadyRead()
{
    if (!m_bConnected || m_readFd < 0)
        return;
    // Everything waiting, in as few reads as it takes: a read that fills the
    // buffer is followed by another.
    bool ended = false;
    for (;;) {
        char buffer[64 * 1024];
        const ssize_t n = ::recv(m_readFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            m_decoder.append(buffer, qsizetype(n));
            if (size_t(n) < sizeof buffer)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        ended = true; // the service closed the link, or it failed
        break;
    }
    if (ended && m_notifier)
        m_notifier->setEnabled(false);
    LinkFrameDecoder::Event ev;
    while (m_decoder.next(&ev))
        m_inbox.push_back(std::move(ev));
    // Taken one by one: a handler that reads again handles what follows in order.
    while (!m_inbox.empty()) {
        // Requests queued behind a link the service has closed are dropped:
        // their replies have nowhere to go, and the logout comes next.
        if (m_inbox.size() > 1 && peerClosed()) {
            playerLog("ListenThread::onReadyRead",
                QStringLiteral("%1 requests dropped unhandled").arg(m_inbox.size()), LightWeightLog::Warning);
            m_inbox.clear();
            break;
        }
        const LinkFrameDecoder::Event next = std::move(m_inbox.front());
        m_inbox.pop_front();
        switch (next.kind) {
        case LinkFrameDecoder::Kind::Frame: {
            // Logged once, by the request manager.
            emit recvMsgSig(LinkFrame::payloadText(next.payload));
            break;
        }
        case LinkFrameDecoder::Kind::BadHeader:
            playerLog("ListenThread::onReadyRead",
                QStringLiteral("bad frame header %1 dropped").arg(QString::fromLatin1(next.header.toHex())),
                LightWeightLog::Warning);
            break;
        case LinkFrameDecoder::Kind::Oversized:
            playerLog("ListenThread::onReadyRead",
                QStringLiteral("frame of %1 bytes is over the limit, skipped").arg(next.length),
                LightWeightLog::Error);
            break;
        }
    }
    // Once what came before the end has been handled.
    if (ended)
        onDisconnected();
}

void ListenThread::onDisconnected()
{
    if (m_bDisconnectReported)
        return;
    m_bDisconnectReported = true;
    // Blocks until the request manager has logged out of every device.
    emit disconnectSig();
    // Queued, so that a quit before the event loop runs is not lost.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}
