// Extracts the folders and regular files of a cramfs image, checking its
// structure on the way. Every offset read from the image is bounded by the
// file and by the superblock's size; names are single path components; all
// output goes through folder handles opened without following links; one
// call's state lives in one Extractor.

#include "CramfsReader.h"

#include "CramfsFormat.h"
#include "FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

using namespace cramfs;

namespace {

constexpr size_t kDataWindowSize = 256 * 1024;
constexpr size_t kFolderWindowSize = 32 * 1024;
constexpr size_t kOutputBufferSize = 256 * 1024;

bool isSafeName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\\') == std::string::npos;
}

using fileio::Fd;

// A cached stretch of the image. Folder entries and file data are read
// through windows of their own, so that a folder's walk does not read its
// entries again after every file.
class ReadWindow
{
public:
    explicit ReadWindow(size_t capacity)
        : m_buffer(capacity)
    { }

    // The bytes [offset, offset + length), read from a page boundary on when
    // not cached; valid until the next call. The range must lie before end
    // and be at most the capacity less a page.
    const uint8_t *fetch(int fd, uint64_t offset, size_t length, uint64_t end)
    {
        if (offset >= m_start && offset + length <= m_start + m_length)
            return m_buffer.data() + (offset - m_start);
        m_start = offset & ~uint64_t(cramfs::kBlockSize - 1);
        m_length = fileio::readAt(
            fd, m_buffer.data(), size_t(std::min<uint64_t>(m_buffer.size(), end - m_start)), m_start);
        if (offset + length > m_start + m_length)
            return nullptr;
        return m_buffer.data() + (offset - m_start);
    }

private:
    std::vector<uint8_t> m_buffer;
    uint64_t m_start = 0;
    size_t m_length = 0;
};

bool makeFolders(const std::string &path)
{
    if (path.empty())
        return false;
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (pos == std::string::npos)
            break;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Extractor
{
public:
    Extractor(int imageFd, uint64_t fileLength, const CramfsLimits &limits)
        : m_fd(imageFd)
        , m_fileLength(fileLength)
        , m_limits(limits)
    { }
    ~Extractor()
    {
        if (m_zlibReady)
            inflateEnd(&m_zs);
    }

    int run(const char *outputFolder);

private:
    enum class Span { Inside, PastSize, PastFile };

    int findSuperblock();
    Span span(uint64_t offset, uint64_t length) const;
    bool inside(uint64_t offset, uint64_t length);
    void refuse() { m_refused = true; }
    bool countEntry();
    bool stopRequested();
    void noteData(uint64_t start, uint64_t end);

    void walkDirectory(int dirFd, const Inode &dir, uint32_t depth, size_t pathLength);
    void extractFile(int dirFd, const std::string &name, const Inode &file);
    bool writeFileData(int fd, const Inode &file);
    void noteLinkData(const Inode &link);
    bool readPointers(const Inode &inode, std::vector<uint32_t> *pointers);

    int m_fd;
    uint64_t m_fileLength;
    CramfsLimits m_limits;

    uint64_t m_start = 0; // where the superblock lies
    uint32_t m_flags = 0;
    uint32_t m_size = 0;
    uint64_t m_limit = 0; // end of what structures may use

    ReadWindow m_folderWindow { kFolderWindowSize };
    ReadWindow m_dataWindow { kDataWindowSize };
    std::vector<uint8_t> m_out = std::vector<uint8_t>(kOutputBufferSize);
    z_stream m_zs {};
    bool m_zlibReady = false;

    std::unordered_set<uint32_t> m_visitedDirs;
    uint64_t m_totalBytes = 0;
    uint32_t m_entries = 0;
    bool m_refused = false;
    bool m_pastSize = false;
    bool m_stopped = false; // a limit was reached
    bool m_stoppedFromOutside = false;

    uint64_t m_highestDirEnd = 0;
    uint64_t m_lowestData = UINT64_MAX;
    uint64_t m_highestDataEnd = 0;
};

int Extractor::findSuperblock()
{
    uint8_t sb[kSuperblockSize];
    if (fileio::readAt(m_fd, sb, sizeof sb, 0) != sizeof sb)
        return CramfsShortSuperblockRead;
    m_start = 0;
    if (readLe32(sb) != kMagic && m_fileLength >= kPadSize + kSuperblockSize) {
        if (fileio::readAt(m_fd, sb, sizeof sb, kPadSize) != sizeof sb)
            return CramfsShortSuperblockRead;
        m_start = kPadSize;
    }
    if (readLe32(sb) != kMagic)
        return CramfsBadSuperblock;
    m_size = readLe32(sb + kSizeField);
    m_flags = readLe32(sb + kFlagsField);
    if (m_flags >= kFirstUnsupportedFlag || m_size < kBlockSize)
        return CramfsBadSuperblock;
    if (m_flags & kFlagFsidVersion2) {
        if (readLe32(sb + kFilesField) == 0 || m_fileLength < m_size)
            return CramfsBadSuperblock;
        if (m_fileLength > m_size)
            std::fputs("warning: file extends past end of filesystem\n", stderr);
    } else {
        std::fputs("warning: old cramfs format\n", stderr);
    }
    m_limit = std::min<uint64_t>(m_fileLength, m_size);

    const uint8_t *root = sb + kRootInodeField;
    const Inode rootInode = decodeInode(root);
    const uint32_t word = inodeOffsetWord(root);
    if (!S_ISDIR(rootInode.mode))
        return CramfsBadRootInode;
    if (!(m_flags & kFlagShiftedRootOffset) && !(word >= 1216 && word <= 1279)
        && !(word >= 9408 && word <= 9471))
        return CramfsBadRootInode;
    if (rootInode.size != 0 && span(rootInode.offset, rootInode.size) != Span::Inside)
        return CramfsBadRootInode;
    return 0;
}

Extractor::Span Extractor::span(uint64_t offset, uint64_t length) const
{
    if (offset + length > m_fileLength)
        return Span::PastFile;
    if (offset + length > m_limit)
        return Span::PastSize;
    return Span::Inside;
}

// True when the range may be read; a range past the superblock's size is
// remembered so that the answer can say so.
bool Extractor::inside(uint64_t offset, uint64_t length)
{
    const Span s = span(offset, length);
    if (s == Span::PastSize)
        m_pastSize = true;
    return s == Span::Inside;
}

bool Extractor::countEntry()
{
    if (++m_entries > m_limits.maxEntries) {
        m_stopped = true;
        return false;
    }
    return !stopRequested();
}

bool Extractor::stopRequested()
{
    if (m_limits.stop && m_limits.stop->load())
        m_stoppedFromOutside = true;
    return m_stoppedFromOutside;
}

void Extractor::noteData(uint64_t start, uint64_t end)
{
    m_lowestData = std::min(m_lowestData, start);
    m_highestDataEnd = std::max(m_highestDataEnd, end);
}

int Extractor::run(const char *outputFolder)
{
    const int found = findSuperblock();
    if (found != 0)
        return found;
    if (inflateInit(&m_zs) != Z_OK)
        return CramfsCannotOpen;
    m_zlibReady = true;

    if (!makeFolders(outputFolder))
        return CramfsCannotCreateFolder;
    Fd rootFd(::open(outputFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.fd < 0)
        return CramfsCannotCreateFolder;

    uint8_t rootBytes[kInodeSize];
    if (fileio::readAt(m_fd, rootBytes, kInodeSize, m_start + kRootInodeField) != kInodeSize)
        return CramfsShortSuperblockRead;
    walkDirectory(rootFd.fd, decodeInode(rootBytes), 0, std::strlen(outputFolder));
    if (m_stoppedFromOutside)
        return CramfsStopped;
    if (m_stopped)
        return CramfsLimitExceeded;
    if (m_pastSize)
        return CramfsDataPastSize;
    if (m_refused)
        return CramfsEntriesRefused;

    if (m_lowestData != UINT64_MAX) {
        if (m_lowestData < m_start + kSuperblockSize)
            return CramfsDataBeforeSuperblockEnd;
        if (m_lowestData != m_highestDirEnd)
            return CramfsDirectoryEndMismatch;
        if ((m_flags & kFlagFsidVersion2) && m_highestDataEnd > m_size)
            return CramfsDataPastSize;
    }
    return CramfsExtractDone;
}

void Extractor::walkDirectory(int dirFd, const Inode &dir, uint32_t depth, size_t pathLength)
{
    if (dir.size == 0)
        return;
    if (dir.offset == 0 || !inside(dir.offset, dir.size) || !m_visitedDirs.insert(dir.offset).second) {
        refuse(); // no data, data outside the image, or a folder reached twice (a loop)
        return;
    }
    const uint64_t end = uint64_t(dir.offset) + dir.size;
    m_highestDirEnd = std::max(m_highestDirEnd, end);

    for (uint64_t pos = dir.offset; pos < end && !m_stopped && !m_stoppedFromOutside;) {
        if (end - pos < kInodeSize)
            return refuse();
        const uint8_t *raw = m_folderWindow.fetch(m_fd, pos, kInodeSize, m_limit);
        if (!raw)
            return refuse();
        const Inode child = decodeInode(raw);
        if (child.nameLength == 0 || pos + kInodeSize + child.nameLength > end)
            return refuse();
        const uint8_t *nameBytes = m_folderWindow.fetch(m_fd, pos + kInodeSize, child.nameLength, m_limit);
        if (!nameBytes)
            return refuse();
        const std::string name(reinterpret_cast<const char *>(nameBytes),
            strnlen(reinterpret_cast<const char *>(nameBytes), child.nameLength));
        if (child.nameLength - name.size() > 3 || !isSafeName(name))
            return refuse();
        pos += kInodeSize + child.nameLength;
        if (!countEntry())
            return;

        const size_t childPathLength = pathLength + 1 + name.size();
        if (S_ISDIR(child.mode)) {
            if (depth + 1 > m_limits.maxDepth || childPathLength > m_limits.maxPathLength) {
                refuse();
                continue;
            }
            if (::mkdirat(dirFd, name.c_str(), 0700) != 0 && errno != EEXIST) {
                refuse();
                continue;
            }
            Fd childFd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (childFd.fd < 0) {
                refuse();
                continue;
            }
            walkDirectory(childFd.fd, child, depth + 1, childPathLength);
            ::fchmod(childFd.fd, (child.mode & 0777) | 0700);
        } else if (S_ISREG(child.mode)) {
            if (childPathLength > m_limits.maxPathLength) {
                refuse();
                continue;
            }
            extractFile(dirFd, name, child);
        } else if (S_ISLNK(child.mode)) {
            noteLinkData(child); // links are not written, but their data is part of the layout
        }
        // devices, fifos and sockets carry no data and are not written
    }
}

bool Extractor::readPointers(const Inode &inode, std::vector<uint32_t> *pointers)
{
    const uint32_t blocks = (inode.size + kBlockSize - 1) / kBlockSize;
    if (!inside(inode.offset, uint64_t(blocks) * 4))
        return false;
    const uint8_t *raw = m_dataWindow.fetch(m_fd, inode.offset, size_t(blocks) * 4, m_limit);
    if (!raw)
        return false;
    pointers->resize(blocks);
    for (uint32_t i = 0; i < blocks; ++i)
        (*pointers)[i] = readLe32(raw + 4 * i);
    return true;
}

void Extractor::noteLinkData(const Inode &link)
{
    std::vector<uint32_t> pointers;
    if (link.size == 0 || link.offset == 0 || !readPointers(link, &pointers))
        return refuse();
    const uint64_t dataStart = uint64_t(link.offset) + 4 * pointers.size();
    const uint64_t dataEnd = std::max<uint64_t>(dataStart, pointers.back());
    if (!inside(dataStart, dataEnd - dataStart))
        return refuse();
    noteData(link.offset, dataEnd);
}

void Extractor::extractFile(int dirFd, const std::string &name, const Inode &file)
{
    if ((file.size == 0) != (file.offset == 0))
        return refuse();
    if (m_totalBytes + file.size > m_limits.maxTotalBytes) {
        m_stopped = true;
        return;
    }
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return refuse();
    const bool ok = writeFileData(fd, file);
    const bool closed = ::fchmod(fd, (file.mode & 0777) | 0600) == 0 && ::close(fd) == 0;
    if (!ok || !closed) {
        ::unlinkat(dirFd, name.c_str(), 0); // no truncated file stays behind
        return refuse();
    }
    m_totalBytes += file.size;
}

bool Extractor::writeFileData(int fd, const Inode &file)
{
    if (file.size == 0)
        return true;
    std::vector<uint32_t> pointers;
    if (!readPointers(file, &pointers))
        return false;
    uint64_t blockStart = uint64_t(file.offset) + 4 * pointers.size();
    noteData(file.offset, blockStart);
    size_t buffered = 0;
    for (size_t i = 0; i < pointers.size(); ++i) {
        if (stopRequested())
            return false;
        const uint64_t blockEnd = pointers[i];
        const uint32_t expected = std::min<uint32_t>(kBlockSize, file.size - uint32_t(i) * kBlockSize);
        if (blockEnd < blockStart || blockEnd - blockStart > kMaxCompressedBlock
            || !inside(blockStart, blockEnd - blockStart))
            return false;
        if (buffered + expected > m_out.size()) {
            if (!fileio::writeAll(fd, m_out.data(), buffered))
                return false;
            buffered = 0;
        }
        uint8_t *dest = m_out.data() + buffered;
        if (blockEnd == blockStart) {
            std::memset(dest, 0, expected); // a hole
        } else {
            const uint8_t *in = m_dataWindow.fetch(m_fd, blockStart, size_t(blockEnd - blockStart), m_limit);
            if (!in || inflateReset(&m_zs) != Z_OK)
                return false;
            m_zs.next_in = const_cast<Bytef *>(in);
            m_zs.avail_in = uInt(blockEnd - blockStart);
            m_zs.next_out = dest;
            m_zs.avail_out = expected;
            if (inflate(&m_zs, Z_FINISH) != Z_STREAM_END || m_zs.total_out != expected)
                return false;
        }
        buffered += expected;
        noteData(file.offset, blockEnd);
        blockStart = blockEnd;
    }
    return fileio::writeAll(fd, m_out.data(), buffered);
}

} // namespace

int cramfsExtractImage(const char *imagePath, const char *outputFolder, const CramfsLimits &limits)
{
    if (!imagePath || !outputFolder || !*outputFolder)
        return CramfsCannotStat;
    struct stat st;
    if (::stat(imagePath, &st) != 0)
        return CramfsCannotStat;
    if (!S_ISREG(st.st_mode))
        return CramfsCannotOpen;
    Fd fd(::open(imagePath, O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0)
        return CramfsCannotOpen;
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return CramfsCannotOpen;
    if (st.st_size < off_t(kSuperblockSize))
        return CramfsTooShort;
    Extractor extractor(fd.fd, uint64_t(st.st_size), limits);
    return extractor.run(outputFolder);
}

int cramfsExtractImage(const char *imagePath, const char *outputFolder)
{
    return cramfsExtractImage(imagePath, outputFolder, CramfsLimits());
}
