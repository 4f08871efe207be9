#pragma once

#include <cstddef>
#include <sys/types.h>

// A thin layer over POSIX TCP sockets. Every wait is a poll() with a time-out;
// interrupted calls are resumed with the time that is left; sends use
// MSG_NOSIGNAL, so a peer that went away is an error result, never a signal.
namespace RawSocket {

enum class Wait { Ready, Timeout, Failed };

// A listening IPv4 socket on 127.0.0.1 at the first port of first..last that
// can be bound (SO_REUSEADDR set, so a port in TIME_WAIT is taken again at
// once); port 0 lets the kernel choose. Returns the socket and sets *port, or -1 when no port could be bound.
int listenLoopback(int firstPort, int lastPort, int *port, int backlog = 100);

// The longest listen backlog the system allows (net.core.somaxconn, else
// SOMAXCONN).
int systemBacklog();

// The next connection, in non-blocking mode; -1 once the listener has been
// shut down (see wakeListener) or fails.
int acceptConnection(int listenSocket);

// Makes a thread blocked in acceptConnection() return; close() alone does not.
void wakeListener(int listenSocket);

// For a loop that polls the listener itself: the next pending connection (in
// non-blocking mode), -2 when none is pending, -3 when the process is out of
// descriptors or memory for now (try again later), -1 when the listener failed.
// The listener must be in non-blocking mode.
int acceptPending(int listenSocket);
bool setNonBlocking(int socket);

// Waits until the socket has data (or its peer closed or failed it).
Wait waitReadable(int socket, int timeoutMs);
Wait waitWritable(int socket, int timeoutMs);

// One receive of at most `size` bytes: the count, 0 when the peer closed,
// -1 on failure, -2 when nothing is there yet.
ssize_t receiveSome(int socket, char *buffer, size_t size);

// One send of at most `size` bytes without waiting: the count, -2 when the
// socket takes nothing now, -1 on failure.
ssize_t sendSome(int socket, const char *data, size_t size);

// Sends all bytes, waiting at most `timeoutMs` for each step of progress.
// The count, or -1 on time-out or failure.
ssize_t sendAll(int socket, const char *data, size_t size, int timeoutMs);

// shutdown() both directions, then close().
void closeSocket(int socket);
// shutdown() both directions only: a thread waiting on the socket wakes up,
// the descriptor stays valid until its owner closes it.
void shutdownSocket(int socket);

// A descriptor that wakes a thread waiting in poll() on it: any thread may
// notify(); the waiting thread clear()s it when it woke.
class Wakeup
{
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup &) = delete;
    Wakeup &operator=(const Wakeup &) = delete;

    // -1 when the descriptor could not be made (the waiter then only wakes
    // at its time-outs).
    int fd() const { return m_fd; }
    void notify();
    void clear();

private:
    int m_fd;
};

} // namespace RawSocket
