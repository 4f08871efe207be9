#pragma once

// Plain-socket clients of the isolation benchmarks.

#include "RawSocket.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace BenchClient {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A blocking connection to 127.0.0.1:`port`; -1 on failure.
inline int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendBytes(int fd, const QByteArray &bytes, int timeoutMs = 10000)
{
    return RawSocket::sendAll(fd, bytes.constData(), size_t(bytes.size()), timeoutMs) == bytes.size();
}

// What the server sends until it closes, or until `timeoutMs` have passed in all.
inline QByteArray readToEnd(int fd, int timeoutMs)
{
    QByteArray all;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || RawSocket::waitReadable(fd, int(left)) != RawSocket::Wait::Ready)
            return all;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return all;
        all.append(buffer, int(n));
    }
}

// One request on a connection of its own: the seconds until the whole answer
// arrived, or -1 when no answer starting with `status` came within `timeoutMs`.
inline double timedRequest(int port, const QByteArray &request, const QByteArray &status, int timeoutMs)
{
    const Clock::time_point start = Clock::now();
    const int fd = connectLoopback(port);
    if (fd < 0)
        return -1;
    const bool answered = sendBytes(fd, request) && readToEnd(fd, timeoutMs).startsWith(status);
    ::close(fd);
    return answered ? secondsSince(start) : -1;
}

// The raw socket port of the service whose WebSocket server listens on
// `wsPort`: the port whose control request 99 reports that port.
inline int findRawPort(int wsPort)
{
    const QByteArray body = "{\"MainType\":99,\"SubType\":0}";
    const QByteArray request = "POST /Cmd-WebLocalCtrl HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    for (int port = 54455; port <= 54465; ++port) {
        const int fd = connectLoopback(port);
        if (fd < 0)
            continue;
        const QByteArray answer = sendBytes(fd, request) ? readToEnd(fd, 3000) : QByteArray();
        ::close(fd);
        if (answer.contains("\"port\":" + QByteArray::number(wsPort) + ","))
            return port;
    }
    return 0;
}

} // namespace BenchClient
