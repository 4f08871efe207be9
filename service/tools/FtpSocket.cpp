#include "FtpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace FtpSocket {

namespace {

sockaddr_in makeAddress(uint32_t address, int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(uint16_t(port));
    return a;
}

int boundSocket(uint32_t address, int port, int *stage)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (stage)
            *stage = 1;
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = makeAddress(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        if (stage)
            *stage = 2;
        return -1;
    }
    return fd;
}

} // namespace

int listenOn(uint32_t address, int port, int *stage)
{
    const int fd = boundSocket(address, port, stage);
    if (fd < 0)
        return -1;
    if (::listen(fd, SOMAXCONN) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        if (stage)
            *stage = 3;
        return -1;
    }
    return fd;
}

bool portFree(uint32_t address, int port)
{
    // A bind alone succeeds beside another socket's bind with SO_REUSEADDR;
    // only listening tells that the port can serve.
    const int fd = listenOn(address, port);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

int acceptOne(int listenSocket, uint32_t *peer)
{
    for (;;) {
        sockaddr_in a {};
        socklen_t len = sizeof a;
        const int fd = ::accept4(listenSocket, reinterpret_cast<sockaddr *>(&a), &len, SOCK_CLOEXEC);
        if (fd >= 0) {
            if (peer)
                *peer = ntohl(a.sin_addr.s_addr);
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        if (errno != EINTR && errno != ECONNABORTED)
            return -1;
    }
}

namespace {

constexpr short kGone = POLLRDHUP | POLLHUP | POLLERR | POLLNVAL;

// poll() on one socket for at most `timeoutMs`, resumed after interruptions
// with the time that is left; Ready when an event was reported.
Wait pollOne(pollfd *p, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Rounded up: a wait never ends before its time.
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int n = ::poll(p, 1, timeoutMs < 0 ? -1 : int(std::max<int64_t>(0, left.count())));
        if (n > 0)
            return Wait::Ready;
        if (n == 0)
            return Wait::Timeout;
        if (errno != EINTR)
            return Wait::Failed;
    }
}

} // namespace

Wait waitReadable(int socket, int timeoutMs)
{
    pollfd p { socket, POLLIN, 0 };
    const Wait w = pollOne(&p, timeoutMs);
    return w == Wait::Ready && (p.revents & (POLLERR | POLLNVAL)) ? Wait::Failed : w;
}

bool peerGoneWithin(int socket, int timeoutMs)
{
    pollfd p { socket, POLLRDHUP, 0 };
    const Wait w = pollOne(&p, timeoutMs);
    return w == Wait::Failed || (w == Wait::Ready && (p.revents & kGone) != 0);
}

ssize_t receiveWatching(int socket, int watched, char *buffer, size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, size, MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (errno == EINTR)
            continue;
        // Only the end of the watched connection wakes us there: commands
        // sent on it meanwhile wait for their turn.
        pollfd p[2] = { { socket, POLLIN, 0 }, { watched, POLLRDHUP, 0 } };
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return -1;
        if (p[1].revents & kGone)
            return -2;
    }
}

bool sendAll(int socket, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool sendFile(int socket, int fileDescriptor, int64_t size)
{
    // sendfile() has no MSG_NOSIGNAL: SIGPIPE is blocked on this thread for
    // the call, and one raised by a peer that went away is taken back.
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    bool ok = true;
    bool broken = false;
    while (size > 0) {
        const size_t step = size_t(size < (int64_t(1) << 30) ? size : (int64_t(1) << 30));
        const ssize_t n = ::sendfile(socket, fileDescriptor, nullptr, step);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) { // failure, or the file became shorter
            broken = n < 0 && errno == EPIPE;
            ok = false;
            break;
        }
        size -= n;
    }
    if (broken && !sigismember(&old, SIGPIPE)) {
        const timespec none { 0, 0 };
        while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) { }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

namespace {

// The local (getsockname) or peer (getpeername) IPv4 name of a socket.
bool socketName(int socket, bool peer, sockaddr_in *a)
{
    socklen_t len = sizeof *a;
    auto *name = reinterpret_cast<sockaddr *>(a);
    const int r = peer ? ::getpeername(socket, name, &len) : ::getsockname(socket, name, &len);
    return r == 0 && a->sin_family == AF_INET;
}

} // namespace

uint32_t localAddress(int socket)
{
    sockaddr_in a {};
    return socketName(socket, false, &a) ? ntohl(a.sin_addr.s_addr) : 0;
}

uint32_t peerAddress(int socket)
{
    sockaddr_in a {};
    return socketName(socket, true, &a) ? ntohl(a.sin_addr.s_addr) : 0;
}

int localPort(int socket)
{
    sockaddr_in a {};
    return socketName(socket, false, &a) ? ntohs(a.sin_port) : 0;
}

void closeSocket(int socket)
{
    if (socket >= 0)
        ::close(socket);
}

} // namespace FtpSocket
