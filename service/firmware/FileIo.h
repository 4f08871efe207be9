#pragma once

// File descriptors: closed with their scope; whole reads and writes, retried
// after signals.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace fileio {

// A file descriptor closed when it goes out of scope.
struct Fd
{
    int fd = -1;
    explicit Fd(int f = -1)
        : fd(f)
    { }
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    void reset(int f)
    {
        if (fd >= 0)
            ::close(fd);
        fd = f;
    }
};

// Reads up to length bytes at offset; answers how many came (fewer at the end of the file or on an error).
inline size_t readAt(int fd, void *data, size_t length, uint64_t offset)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, static_cast<char *>(data) + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return done;
}

inline bool writeAll(int fd, const void *data, size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= size_t(n);
    }
    return true;
}

} // namespace fileio
