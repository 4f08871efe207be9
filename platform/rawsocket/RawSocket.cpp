#include "RawSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace RawSocket {

namespace {

using Clock = std::chrono::steady_clock;

Wait waitFor(int socket, short events, int timeoutMs)
{
    if (socket < 0)
        return Wait::Failed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry { socket, events, 0 };
        const int n = ::poll(&entry, 1, left > 0 ? int(left) : 0);
        if (n > 0) {
            if (entry.revents & POLLNVAL)
                return Wait::Failed;
            // Hang-up and errors count as ready: the next receive or send
            // reports them.
            return Wait::Ready;
        }
        if (n == 0)
            return Wait::Timeout;
        if (errno != EINTR)
            return Wait::Failed;
    }
}

// One receive or send: the count, -2 when the socket has nothing or takes
// nothing now, -1 on failure; an interrupted call is made again.
template<typename Call> ssize_t transferOnce(Call call)
{
    for (;;) {
        const ssize_t n = call();
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
    }
}

} // namespace

int systemBacklog()
{
    int backlog = 0;
    if (FILE *file = std::fopen("/proc/sys/net/core/somaxconn", "r")) {
        if (std::fscanf(file, "%d", &backlog) != 1)
            backlog = 0;
        std::fclose(file);
    }
    return backlog > 0 ? backlog : SOMAXCONN;
}

int listenLoopback(int firstPort, int lastPort, int *port, int backlog)
{
    if (port)
        *port = 0;
    for (int p = firstPort; p <= lastPort; ++p) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0)
            return -1;
        const int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(p));
        if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(s, backlog) == 0) {
            socklen_t length = sizeof address;
            if (::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0 && port)
                *port = ntohs(address.sin_port);
            return s;
        }
        ::close(s);
    }
    return -1;
}

int acceptConnection(int listenSocket)
{
    const int s = acceptPending(listenSocket);
    return s >= 0 ? s : -1;
}

void wakeListener(int listenSocket)
{
    if (listenSocket >= 0)
        ::shutdown(listenSocket, SHUT_RDWR);
}

int acceptPending(int listenSocket)
{
    for (;;) {
        const int s = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (s >= 0)
            return s;
        // A connection that was reset before we took it is no reason to stop.
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -2;
        // Out of descriptors or memory: the connection waits in the backlog
        // for a later try rather than ending the server.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            return -3;
        return -1;
    }
}

bool setNonBlocking(int socket)
{
    const int flags = ::fcntl(socket, F_GETFL, 0);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

Wait waitReadable(int socket, int timeoutMs)
{
    return waitFor(socket, POLLIN, timeoutMs);
}

Wait waitWritable(int socket, int timeoutMs)
{
    return waitFor(socket, POLLOUT, timeoutMs);
}

ssize_t receiveSome(int socket, char *buffer, size_t size)
{
    return transferOnce([&] { return ::recv(socket, buffer, size, 0); });
}

ssize_t sendSome(int socket, const char *data, size_t size)
{
    return transferOnce([&] { return ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT); });
}

ssize_t sendAll(int socket, const char *data, size_t size, int timeoutMs)
{
    size_t sent = 0;
    while (sent < size) {
        if (waitWritable(socket, timeoutMs) != Wait::Ready)
            return -1;
        const ssize_t n = ::send(socket, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return -1;
        }
        sent += size_t(n);
    }
    return ssize_t(sent);
}

void shutdownSocket(int socket)
{
    if (socket >= 0)
        ::shutdown(socket, SHUT_RDWR);
}

void closeSocket(int socket)
{
    if (socket < 0)
        return;
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
}

Wakeup::Wakeup()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{ }

Wakeup::~Wakeup()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Wakeup::notify()
{
    const uint64_t one = 1;
    if (m_fd >= 0 && ::write(m_fd, &one, sizeof one) < 0) {
        // The counter is at its limit: the waiter has a wake-up pending anyway.
    }
}

void Wakeup::clear()
{
    uint64_t value;
    if (m_fd >= 0 && ::read(m_fd, &value, sizeof value) < 0) {
        // Nothing was pending.
    }
}

} // namespace RawSocket
