#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// The FTP server's socket calls that the shared layer (RawSocket: receiving,
// shutting down) does not have, over POSIX TCP: blocking
// sockets, sends with MSG_NOSIGNAL, interrupted calls resumed, waits through
// poll(). IPv4 addresses are in host byte order.
namespace FtpSocket {

enum class Wait { Ready, Timeout, Failed };

// A listening socket bound to `address`:`port` with SO_REUSEADDR; -1 on failure
// (errno kept). `stage` tells which step failed: 1 socket, 2 bind, 3 listen.
int listenOn(uint32_t address, int port, int *stage = nullptr);

// True when listenOn() could take the port now (a trial bind, released at once).
bool portFree(uint32_t address, int port);

// Waits for and accepts one connection; -1 when the socket was shut down or
// failed. `peer` receives the peer's address when given.
int acceptOne(int listenSocket, uint32_t *peer = nullptr);

// Waits at most `timeoutMs` for the socket to become readable (a pending
// connection on a listener, data or the end on a connection).
Wait waitReadable(int socket, int timeoutMs);

// True when the peer of a connection has closed its end or reset it, or does
// so within `timeoutMs`; what it sent before and is still unread is no sign
// of either.
bool peerGoneWithin(int socket, int timeoutMs);

// Receives at most `size` bytes: the count, 0 at the connection's end, -1 on
// failure, or -2 when, while nothing is there yet, the peer of the other
// connection `watched` goes away (see peerGoneWithin) instead.
ssize_t receiveWatching(int socket, int watched, char *buffer, size_t size);

// Sends every byte; false when the peer went away or the socket failed.
bool sendAll(int socket, const char *data, size_t size);

// Sends `size` bytes of the open file from its current offset; false on failure.
bool sendFile(int socket, int fileDescriptor, int64_t size);

// The local and the peer address of a connected socket (0 when unknown).
uint32_t localAddress(int socket);
uint32_t peerAddress(int socket);
// The local port of a bound socket (0 when unknown).
int localPort(int socket);

// Closes without a shutdown first (RawSocket::shutdownSocket wakes waiters).
void closeSocket(int socket);

} // namespace FtpSocket
