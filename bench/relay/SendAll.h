#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/socket.h>

// Sends all of `size` bytes on a blocking socket; false once the peer is gone.
inline bool sendAll(int fd, const char *from, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, from, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        size -= size_t(n);
    }
    return true;
}
