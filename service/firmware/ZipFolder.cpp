#include "ZipFolder.h"
#include "FileIo.h"

#include <minizip/zip.h>
#include <zlib.h>
#include <zzip/zzip.h>

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ZipEntryName {

Kind split(const QByteArray &name, QList<QByteArray> *segments)
{
    segments->clear();
    if (name.isEmpty() || name.contains('\0') || name.size() >= PATH_MAX)
        return Kind::Refused;
    if (name.at(0) == '/' || name.at(0) == '\\')
        return Kind::Refused;
    if (name.size() >= 2 && name.at(1) == ':' && std::isalpha(static_cast<unsigned char>(name.at(0))))
        return Kind::Refused;
    QByteArray segment;
    for (int i = 0; i <= name.size(); ++i) {
        const bool end = i == name.size();
        const char c = end ? '/' : name.at(i);
        if (c != '/' && c != '\\') {
            segment.append(c);
            continue;
        }
        if (end && segment.isEmpty())
            return segments->isEmpty() ? Kind::Refused : Kind::Folder;
        if (segment.isEmpty() || segment == "." || segment == ".." || segment.size() > NAME_MAX)
            return Kind::Refused;
        segments->append(segment);
        segment.clear();
    }
    return Kind::File;
}

} // namespace ZipEntryName

namespace {

constexpr int kCopyBuffer = 40960;

using fileio::Fd;

// Opens (creating when missing) the folders `segments[0..count)` below
// `root`, none of them through a link. The open folder, or -1.
int openFolders(int root, const QList<QByteArray> &segments, int count)
{
    int current = ::dup(root);
    for (int i = 0; i < count && current >= 0; ++i) {
        if (::mkdirat(current, segments.at(i).constData(), 0755) != 0 && errno != EEXIST) {
            ::close(current);
            return -1;
        }
        const int next
            = ::openat(current, segments.at(i).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(current);
        current = next;
    }
    return current;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool makeFolder(const char *folder)
{
    std::string path(folder);
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

// What the central directory says of an entry beyond its name.
struct EntryFacts
{
    bool link = false;
    uint32_t crc = 0;
};

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint64_t le64(const unsigned char *p)
{
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

// Where the central directory lies and how many entries it lists: from the
// end record, or from the zip64 end record its locator points to, which holds
// the counts and places that do not fit the end record's 16 and 32 bits.
struct CentralDirectory
{
    uint64_t count = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
};

bool findCentralDirectory(int fd, CentralDirectory *out)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size < 22)
        return false;
    const uint64_t fileSize = uint64_t(st.st_size);
    // The end record: the last signature within its 22 bytes and a comment.
    const size_t tail = size_t(std::min<uint64_t>(fileSize, 22 + 65535));
    std::vector<unsigned char> end(tail);
    if (fileio::readAt(fd, end.data(), tail, fileSize - tail) != tail)
        return false;
    size_t at = tail - 22 + 1;
    do {
        --at;
    } while (at > 0 && le32(&end[at]) != 0x06054b50u);
    if (le32(&end[at]) != 0x06054b50u)
        return false;
    out->count = le16(&end[at + 10]);
    out->size = le32(&end[at + 12]);
    out->offset = le32(&end[at + 16]);
    const uint64_t endRecord = fileSize - tail + at;
    unsigned char locator[20];
    if (endRecord >= 20 && fileio::readAt(fd, locator, 20, endRecord - 20) == 20
        && le32(locator) == 0x07064b50u) {
        unsigned char record[56];
        const uint64_t recordAt = le64(locator + 8);
        if (recordAt > fileSize || fileio::readAt(fd, record, 56, recordAt) != 56
            || le32(record) != 0x06064b50u)
            return false;
        out->count = le64(record + 32);
        out->size = le64(record + 40);
        out->offset = le64(record + 48);
    }
    return out->offset <= fileSize && out->size <= fileSize - out->offset;
}

// The size an entry declares unpacked: its 32-bit field, or when that is
// full, the first value of its zip64 extra field (id 1) that follows the
// name in `extra`.
uint64_t declaredSize(const unsigned char *head, const unsigned char *extra, size_t extraLength)
{
    const uint32_t size = le32(head + 24);
    if (size != 0xFFFFFFFFu)
        return size;
    for (size_t at = 0; extraLength - at >= 4;) {
        const uint16_t id = le16(extra + at);
        const size_t length = le16(extra + at + 2);
        if (extraLength - at - 4 < length)
            break;
        if (id == 1 && length >= 8)
            return le64(extra + at + 4);
        at += 4 + length;
    }
    return size;
}

// The facts of every entry by name (the first of a name wins), from the
// central directory, and the sum of the sizes the entries declare unpacked
// (saturated). A link entry is one made on a Unix system whose file mode, in
// the high half of the external attributes, says link. False when the
// directory cannot be read whole or lists more than `maxEntries`.
bool readEntryFacts(
    int fd, uint64_t maxEntries, QHash<QByteArray, EntryFacts> *facts, uint64_t *declaredTotal)
{
    CentralDirectory central;
    if (!findCentralDirectory(fd, &central) || central.count > maxEntries)
        return false;
    const uint64_t size = central.size;
    std::vector<unsigned char> dir(size);
    if (fileio::readAt(fd, dir.data(), size, central.offset) != size)
        return false;
    size_t pos = 0;
    for (uint64_t i = 0; i < central.count; ++i) {
        if (size - pos < 46 || le32(&dir[pos]) != 0x02014b50u)
            return false;
        const unsigned char *head = &dir[pos];
        const size_t nameLength = le16(head + 28);
        const size_t record = 46 + nameLength + le16(head + 30) + le16(head + 32);
        if (size - pos < record)
            return false;
        const uint64_t declared = declaredSize(head, head + 46 + nameLength, le16(head + 30));
        *declaredTotal = declared > UINT64_MAX - *declaredTotal ? UINT64_MAX : *declaredTotal + declared;
        EntryFacts fact;
        const uint32_t mode = le32(head + 38) >> 16;
        fact.link = head[5] == 3 && (mode & S_IFMT) == S_IFLNK;
        fact.crc = le32(head + 16);
        const QByteArray name(reinterpret_cast<const char *>(head + 46), int(nameLength));
        if (!facts->contains(name))
            facts->insert(name, fact);
        pos += record;
    }
    return true;
}

} // namespace

int unzipToFolder(const char *zipPath, const char *folder)
{
    return unzipToFolder(zipPath, folder, UnzipLimits());
}

int unzipToFolder(const char *zipPath, const char *folder, const UnzipLimits &limits)
{
    if (!zipPath || !folder || !*zipPath || !*folder)
        return -1;
    zzip_error_t error = ZZIP_NO_ERROR;
    ZZIP_DIR *zip = zzip_dir_open(zipPath, &error);
    if (!zip)
        return -1;
    std::unique_ptr<ZZIP_DIR, int (*)(ZZIP_DIR *)> closeZip(zip, zzip_dir_close);
    QHash<QByteArray, EntryFacts> facts;
    uint64_t declared = 0;
    {
        Fd zipFile(::open(zipPath, O_RDONLY | O_CLOEXEC));
        if (zipFile.fd < 0 || limits.maxEntries < 0
            || !readEntryFacts(zipFile.fd, uint64_t(limits.maxEntries), &facts, &declared))
            return -1;
    }
    // A zip that says it unpacks to more than the cap is refused before
    // anything is written; one that says less is still measured as it unpacks.
    if (declared > uint64_t(std::max<qint64>(limits.maxTotalBytes, 0)))
        return -1;
    if (!makeFolder(folder))
        return -1;
    Fd root(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.fd < 0)
        return -1;

    std::vector<char> buffer(kCopyBuffer);
    qint64 total = 0;
    int entries = 0;
    int result = 0;
    ZZIP_DIRENT entry;
    while (zzip_dir_read(zip, &entry)) {
        if (++entries > limits.maxEntries || (limits.stop && limits.stop->load()))
            return -1;
        const QByteArray name(entry.d_name ? entry.d_name : "");
        std::printf("extract:%s\n", name.constData());
        QList<QByteArray> segments;
        const ZipEntryName::Kind kind = ZipEntryName::split(name, &segments);
        // An entry the directory scan did not see, or a link, is never written.
        const auto fact = facts.constFind(name);
        if (kind == ZipEntryName::Kind::Refused || fact == facts.constEnd() || fact->link) {
            result = -2;
            continue;
        }
        const int folders = kind == ZipEntryName::Kind::Folder ? segments.size() : segments.size() - 1;
        Fd parent(openFolders(root.fd, segments, folders));
        if (parent.fd < 0) {
            result = -2;
            continue;
        }
        if (kind == ZipEntryName::Kind::Folder)
            continue;
        const char *leaf = segments.last().constData();
        Fd out(::openat(parent.fd, leaf, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (out.fd < 0) {
            result = -2;
            continue;
        }
        struct stat st;
        ZZIP_FILE *in = nullptr;
        bool ok = ::fstat(out.fd, &st) == 0 && S_ISREG(st.st_mode);
        if (ok)
            in = zzip_file_open(zip, entry.d_name, 0);
        ok = ok && in;
        bool limitReached = false;
        uLong crc = crc32(0L, Z_NULL, 0);
        while (ok) {
            if (limits.stop && limits.stop->load()) {
                ok = false;
                limitReached = true;
                break;
            }
            const zzip_ssize_t n = zzip_file_read(in, buffer.data(), zzip_size_t(buffer.size()));
            if (n < 0)
                ok = false;
            if (n <= 0)
                break;
            total += n;
            if (total > limits.maxTotalBytes) {
                ok = false;
                limitReached = true;
                break;
            }
            crc = crc32(crc, reinterpret_cast<const Bytef *>(buffer.data()), uInt(n));
            ok = writeAll(out.fd, buffer.data(), n);
        }
        // A damaged entry fails its checksum.
        ok = ok && uint32_t(crc) == fact->crc;
        if (in)
            zzip_file_close(in);
        if (!ok) {
            out.reset(-1);
            ::unlinkat(parent.fd, leaf, 0);
            if (limitReached)
                return -1;
            result = -2;
        }
    }
    std::fflush(stdout);
    return result;
}

void *zipArchiveOpen(const char *path)
{
    return path ? zipOpen64(path, APPEND_STATUS_CREATE) : nullptr;
}

void *zipArchiveAddEntry(void *archive, const char *name)
{
    if (!archive || !name)
        return nullptr;
    zip_fileinfo info;
    std::memset(&info, 0, sizeof(info));
    const int r = zipOpenNewFileInZip64(
        archive, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1);
    return r == ZIP_OK ? archive : nullptr;
}

int zipArchiveWrite(void *archive, const void *data, unsigned length)
{
    return archive ? zipWriteInFileInZip(archive, data, length) : ZIP_PARAMERROR;
}

int zipArchiveCloseEntry(void *archive)
{
    return archive ? zipCloseFileInZip(archive) : ZIP_PARAMERROR;
}

int zipArchiveClose(void *archive)
{
    return archive ? zipClose(archive, nullptr) : ZIP_PARAMERROR;
}

namespace {

bool zipTree(void *archive, const std::string &folder, const std::string &relative, std::vector<char> &buffer)
{
    const std::string path = relative.empty() ? folder : folder + '/' + relative;
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string &name : names) {
        const std::string rel = relative.empty() ? name : relative + '/' + name;
        const std::string full = folder + '/' + rel;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0)
            return false;
        if (S_ISDIR(st.st_mode)) {
            if (!zipTree(archive, folder, rel, buffer))
                return false;
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        Fd in(::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.fd < 0 || !zipArchiveAddEntry(archive, rel.c_str()))
            return false;
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                ok = false;
            if (n <= 0)
                break;
            if (zipArchiveWrite(archive, buffer.data(), unsigned(n)) != ZIP_OK) {
                ok = false;
                break;
            }
        }
        if (zipArchiveCloseEntry(archive) != ZIP_OK || !ok)
            return false;
    }
    return true;
}

} // namespace

int zipFolder(const char *folder, const char *zipPath)
{
    if (!folder || !zipPath)
        return -1;
    void *archive = zipArchiveOpen(zipPath);
    if (!archive)
        return -1;
    std::vector<char> buffer(1 << 20);
    const bool ok = zipTree(archive, folder, std::string(), buffer);
    const bool closed = zipArchiveClose(archive) == ZIP_OK;
    if (!ok || !closed) {
        ::unlink(zipPath);
        return -1;
    }
    return 0;
}
