// The 64-byte header strip of partition images and the file-system detector.

#include "PartitionImage.h"

#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zzip/lib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr off_t kHeaderSize = 64;
constexpr size_t kCopyChunk = 1024 * 1024;
constexpr size_t kProbeLength = 32; // the two magic strings lie in the first 32 bytes

constexpr char kSquashfsMagic[] = "hsqs";
constexpr char kCramfsSignature[] = "Compressed ROMFS";

// 2 squashfs, 1 cramfs, 0 neither; the cramfs test comes second and wins.
int typeOf(const uint8_t *probe, size_t length)
{
    int type = 0;
    if (length >= 4 && std::memcmp(probe, kSquashfsMagic, 4) == 0)
        type = 2;
    if (length >= 32 && std::memcmp(probe + 16, kCramfsSignature, 16) == 0)
        type = 1;
    return type;
}

int detectInFile(const char *path, uint64_t start)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    uint8_t probe[kProbeLength];
    const size_t got = fileio::readAt(fd, probe, sizeof probe, start);
    ::close(fd);
    return typeOf(probe, got);
}

int detectInZip(const char *zipPath, const char *entryName, int match)
{
    if (!entryName || !*entryName)
        return 0;
    zzip_error_t error = ZZIP_NO_ERROR;
    ZZIP_DIR *zip = zzip_dir_open(zipPath, &error);
    if (!zip)
        return -1;
    int type = 0;
    ZZIP_DIRENT entry;
    while (type == 0 && zzip_dir_read(zip, &entry)) {
        if (!entry.d_name)
            continue;
        const bool matches = match == 0 ? std::strcmp(entry.d_name, entryName) == 0
                                        : std::strstr(entry.d_name, entryName) != nullptr;
        if (!matches)
            continue;
        ZZIP_FILE *file = zzip_file_open(zip, entry.d_name, 0);
        if (!file)
            continue;
        uint8_t head[kHeaderSize + kProbeLength];
        size_t got = 0;
        while (got < sizeof head) {
            const zzip_ssize_t n = zzip_file_read(file, head + got, sizeof head - got);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        zzip_file_close(file);
        if (got > size_t(kHeaderSize))
            type = typeOf(head + kHeaderSize, got - size_t(kHeaderSize));
    }
    zzip_dir_close(zip);
    return type;
}

} // namespace

int stripImageHeader(const char *source, const char *target)
{
    struct stat st;
    if (!source || !target || ::stat(source, &st) != 0)
        return -1;
    const int in = ::open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return -2;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return -2;
    }
    if (st.st_size < kHeaderSize) {
        ::close(in);
        return -4;
    }
    const int out = ::open(target, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return -3;
    }
    // Streamed in chunks: an image of any size needs no more memory than one chunk.
    std::vector<char> buffer(kCopyChunk);
    int result = 0;
    off_t offset = kHeaderSize;
    while (result == 0 && offset < st.st_size) {
        const size_t want = size_t(std::min<off_t>(off_t(buffer.size()), st.st_size - offset));
        const size_t got = fileio::readAt(in, buffer.data(), want, uint64_t(offset));
        if (got != want) {
            result = -4;
            break;
        }
        if (!fileio::writeAll(out, buffer.data(), got)) {
            result = -5;
            break;
        }
        offset += off_t(got);
    }
    ::close(in);
    if (::close(out) != 0 && result == 0)
        result = -5;
    if (result != 0)
        ::unlink(target);
    return result;
}

int detectImageFsType(int mode, const char *path, const void *nameOrOffset, int match)
{
    if (!path || !*path)
        return 0;
    switch (mode) {
    case 0:
        return detectInZip(path, static_cast<const char *>(nameOrOffset), match);
    case 1:
        return nameOrOffset ? detectInFile(path, *static_cast<const uint32_t *>(nameOrOffset)) : 0;
    case 2:
        return detectInFile(path, kHeaderSize);
    case 3:
        return detectInFile(path, 0);
    default:
        return 0;
    }
}
