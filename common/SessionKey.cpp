#include "SessionKey.h"

#include <cerrno>
#include <sys/random.h>

namespace SessionKey {

namespace {

void fillRandom(unsigned char *buf, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(buf + done, size - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            qFatal("SessionKey: no random source");
        }
        done += size_t(n);
    }
}

} // namespace

QByteArray make()
{
    // 94 printable characters; bytes from 188 up are drawn again so that every
    // character is equally likely.
    constexpr unsigned kRange = 126 - 33 + 1;
    constexpr unsigned kLimit = 256 - 256 % kRange;
    QByteArray key;
    key.reserve(kLength);
    unsigned char pool[64];
    while (key.size() < kLength) {
        fillRandom(pool, sizeof pool);
        for (unsigned char b : pool) {
            if (b >= kLimit)
                continue;
            key.append(char(33 + b % kRange));
            if (key.size() == kLength)
                break;
        }
    }
    return key;
}

} // namespace SessionKey
