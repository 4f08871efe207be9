// Layout of a built image: the superblock with the root inode; the folders'
// entries, one folder after the other in breadth-first order (the root's at
// offset 76); then every file's block pointers and compressed blocks, in the
// order their folders' entries name them; zero padding to a whole page. The
// superblock's CRC covers the whole image with the CRC field zero.

#include "CramfsBuilder.h"

#include "CramfsFormat.h"
#include "FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

using namespace cramfs;

namespace {

constexpr uint64_t kMaxImageSize = 285229051;
constexpr uint32_t kMaxDepth = 256;
constexpr uint32_t kBlocksPerChunk = 64;
constexpr int kZlibLevel = 6;

uint32_t align4(uint64_t v)
{
    return uint32_t((v + 3) & ~uint64_t(3));
}

struct Node
{
    std::string name;
    std::string path; // source path
    bool folder = false;
    uint16_t uid = 0;
    uint8_t gid = 0;
    uint32_t size = 0; // folders: entry data length; files: bytes (cut to 24 bits)
    uint32_t offset = 0;
    std::vector<size_t> children; // folders: sorted entries
    size_t firstChunk = 0, chunkCount = 0; // files
};

struct Chunk
{
    size_t node = 0;
    uint32_t firstBlock = 0;
    uint32_t blocks = 0;
    std::vector<uint8_t> data; // compressed blocks back to back
    std::vector<uint32_t> sizes; // compressed size of each block
    bool ok = false;
};

class Builder
{
public:
    explicit Builder(const CramfsBuildOptions &options)
        : m_options(options)
    { }
    bool build(const std::string &source, int imageFd);

private:
    bool walk(size_t folder, uint32_t depth);
    bool layOut();
    void compressAll();
    void compressChunks(std::atomic<size_t> *next);
    std::vector<uint8_t> assemble();
    void list(const char *format, ...) __attribute__((format(printf, 2, 3)));

    CramfsBuildOptions m_options;
    std::vector<Node> m_nodes;
    std::vector<size_t> m_folders; // breadth-first
    std::vector<size_t> m_files; // data order
    std::vector<Chunk> m_chunks;
    uint32_t m_dataStart = 0;
    uint32_t m_totalBlocks = 0;
};

void Builder::list(const char *format, ...)
{
    if (!m_options.listing)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(m_options.listing, format, args);
    va_end(args);
}

bool Builder::walk(size_t folder, uint32_t depth)
{
    if (depth > kMaxDepth)
        return false;
    const std::string path = m_nodes[folder].path;
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    std::vector<Node> entries;
    bool ok = true;
    while (const dirent *ent = ::readdir(dir)) {
        const std::string name = ent->d_name;
        if (name == "." || name == ".." || name == "Thumbs.db" || name == ".svn")
            continue;
        Node node;
        node.name = name;
        node.path = path + "/" + name;
        struct stat st;
        if (::lstat(node.path.c_str(), &st) != 0) {
            ok = false;
            break;
        }
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue; // links, devices, fifos and sockets have no place in the image
        if (name.size() > kMaxNameLength) {
            ok = false;
            break;
        }
        node.folder = S_ISDIR(st.st_mode);
        node.uid = uint16_t(std::min<uid_t>(st.st_uid, 0xFFFF));
        node.gid = uint8_t(std::min<gid_t>(st.st_gid, 0xFF));
        node.size = node.folder ? 0 : uint32_t(std::min<off_t>(st.st_size, kMaxFileSize));
        entries.push_back(std::move(node));
    }
    ::closedir(dir);
    if (!ok)
        return false;
    std::sort(entries.begin(), entries.end(), [](const Node &a, const Node &b) { return a.name < b.name; });
    uint64_t entryBytes = 0;
    for (Node &entry : entries) {
        entryBytes += kInodeSize + align4(entry.name.size());
        m_nodes[folder].children.push_back(m_nodes.size());
        m_nodes.push_back(std::move(entry));
    }
    if (entryBytes > kMaxFileSize)
        return false;
    m_nodes[folder].size = uint32_t(entryBytes);
    for (size_t child : std::vector<size_t>(m_nodes[folder].children)) {
        if (m_nodes[child].folder && !walk(child, depth + 1))
            return false;
    }
    return true;
}

// Places the folders' entry data and cuts the files into compression chunks.
bool Builder::layOut()
{
    std::deque<size_t> queue { 0 };
    uint64_t offset = kSuperblockSize;
    while (!queue.empty()) {
        const size_t folder = queue.front();
        queue.pop_front();
        m_folders.push_back(folder);
        Node &node = m_nodes[folder];
        node.offset = (node.size || folder == 0) ? uint32_t(offset) : 0;
        offset += node.size;
        for (size_t child : node.children) {
            if (m_nodes[child].folder)
                queue.push_back(child);
        }
    }
    if (offset >= kMaxDataOffset)
        return false;
    m_dataStart = uint32_t(offset);
    for (size_t folder : m_folders) {
        for (size_t child : m_nodes[folder].children) {
            Node &file = m_nodes[child];
            if (file.folder || file.size == 0)
                continue;
            m_files.push_back(child);
            const uint32_t blocks = (file.size + kBlockSize - 1) / kBlockSize;
            m_totalBlocks += blocks;
            file.firstChunk = m_chunks.size();
            for (uint32_t first = 0; first < blocks; first += kBlocksPerChunk) {
                Chunk chunk;
                chunk.node = child;
                chunk.firstBlock = first;
                chunk.blocks = std::min(kBlocksPerChunk, blocks - first);
                m_chunks.push_back(std::move(chunk));
            }
            file.chunkCount = m_chunks.size() - file.firstChunk;
        }
    }
    return true;
}

void Builder::compressChunks(std::atomic<size_t> *next)
{
    z_stream zs {};
    if (deflateInit(&zs, kZlibLevel) != Z_OK)
        return;
    std::vector<uint8_t> input(size_t(kBlocksPerChunk) * kBlockSize);
    const uLong bound = deflateBound(&zs, kBlockSize);
    for (size_t i = (*next)++; i < m_chunks.size(); i = (*next)++) {
        Chunk &chunk = m_chunks[i];
        const Node &file = m_nodes[chunk.node];
        const uint64_t start = uint64_t(chunk.firstBlock) * kBlockSize;
        const size_t length
            = size_t(std::min<uint64_t>(uint64_t(chunk.blocks) * kBlockSize, file.size - start));
        const int fd = ::open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        const size_t got = fileio::readAt(fd, input.data(), length, start);
        ::close(fd);
        if (got != length)
            continue; // the file shrank while the image was built
        chunk.data.resize(size_t(bound) * chunk.blocks);
        size_t used = 0;
        bool ok = true;
        for (uint32_t b = 0; b < chunk.blocks && ok; ++b) {
            const size_t blockLength = std::min<size_t>(kBlockSize, length - size_t(b) * kBlockSize);
            ok = deflateReset(&zs) == Z_OK;
            zs.next_in = input.data() + size_t(b) * kBlockSize;
            zs.avail_in = uInt(blockLength);
            zs.next_out = chunk.data.data() + used;
            zs.avail_out = uInt(bound);
            ok = ok && deflate(&zs, Z_FINISH) == Z_STREAM_END;
            chunk.sizes.push_back(uint32_t(zs.total_out));
            used += zs.total_out;
        }
        chunk.data.resize(used);
        chunk.ok = ok;
    }
    deflateEnd(&zs);
}

void Builder::compressAll()
{
    unsigned threads
        = m_options.threads ? m_options.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<size_t>(threads, std::max<size_t>(1, m_chunks.size())));
    std::atomic<size_t> next { 0 };
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back([this, &next] { compressChunks(&next); });
    compressChunks(&next);
    for (std::thread &worker : workers)
        worker.join();
}

// The whole image, or nothing when a file could not be read or the image grew too large.
std::vector<uint8_t> Builder::assemble()
{
    uint64_t end = m_dataStart;
    for (size_t index : m_files) {
        Node &file = m_nodes[index];
        file.offset = uint32_t(end);
        if (end >= kMaxDataOffset)
            return {};
        uint64_t compressed = 0;
        for (size_t c = file.firstChunk; c < file.firstChunk + file.chunkCount; ++c) {
            if (!m_chunks[c].ok)
                return {};
            compressed += m_chunks[c].data.size();
        }
        end = align4(end + 4 * ((file.size + kBlockSize - 1) / kBlockSize) + compressed);
        if (end > kMaxImageSize)
            return {};
    }
    const uint64_t imageSize = (end + kBlockSize - 1) / kBlockSize * kBlockSize;
    if (imageSize > kMaxImageSize)
        return {};
    std::vector<uint8_t> image(size_t(imageSize), 0);

    uint8_t *sb = image.data();
    writeLe32(sb, kMagic);
    writeLe32(sb + kSizeField, uint32_t(imageSize));
    writeLe32(sb + kFlagsField, kFlagFsidVersion2 | kFlagSortedDirs);
    std::memcpy(sb + kSignatureField, kSignature, 16);
    writeLe32(sb + kBlocksField, m_totalBlocks);
    writeLe32(sb + kFilesField, uint32_t(m_nodes.size()));
    std::memcpy(sb + kNameField, "Compressed", 10);

    auto inodeOf = [](const Node &node) {
        Inode in;
        in.mode = uint16_t((node.folder ? S_IFDIR : S_IFREG) | 0777);
        in.uid = node.uid;
        in.gid = node.gid;
        in.size = node.size;
        in.nameLength = align4(node.name.size());
        in.offset = node.offset;
        return in;
    };
    encodeInode(inodeOf(m_nodes[0]), sb + kRootInodeField);

    list("root:\n");
    for (size_t folder : m_folders) {
        if (folder != 0)
            list("%s:\n", m_nodes[folder].path.c_str());
        uint8_t *p = image.data() + m_nodes[folder].offset;
        for (size_t child : m_nodes[folder].children) {
            const Node &node = m_nodes[child];
            encodeInode(inodeOf(node), p);
            std::memcpy(p + kInodeSize, node.name.data(), node.name.size());
            p += kInodeSize + align4(node.name.size());
            const std::string size = std::to_string(node.size);
            list("%c %04o %9s %5d:%-3d %s\n", node.folder ? 'd' : 'f', 0777, size.c_str(), node.uid, node.gid,
                node.name.c_str());
        }
    }

    for (size_t index : m_files) {
        const Node &file = m_nodes[index];
        const uint32_t blocks = (file.size + kBlockSize - 1) / kBlockSize;
        uint8_t *pointers = image.data() + file.offset;
        uint32_t blockEnd = file.offset + 4 * blocks;
        uint32_t block = 0;
        for (size_t c = file.firstChunk; c < file.firstChunk + file.chunkCount; ++c) {
            const Chunk &chunk = m_chunks[c];
            std::memcpy(image.data() + blockEnd, chunk.data.data(), chunk.data.size());
            for (uint32_t size : chunk.sizes) {
                blockEnd += size;
                writeLe32(pointers + 4 * block++, blockEnd);
            }
        }
        list("%s, uncompress size = %d \n", file.path.c_str(), int(file.size));
        list("%s, compressed size = %d \n", file.path.c_str(), int(blockEnd - file.offset));
    }

    writeLe32(sb + kCrcField, uint32_t(crc32(crc32(0, nullptr, 0), image.data(), uInt(image.size()))));
    return image;
}

bool Builder::build(const std::string &source, int imageFd)
{
    struct stat st;
    if (::stat(source.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    Node root;
    root.path = source;
    root.folder = true;
    root.uid = uint16_t(std::min<uid_t>(st.st_uid, 0xFFFF));
    root.gid = uint8_t(std::min<gid_t>(st.st_gid, 0xFF));
    m_nodes.push_back(std::move(root));
    if (!walk(0, 0) || !layOut())
        return false;
    compressAll();
    const std::vector<uint8_t> image = assemble();
    if (image.empty())
        return false;
    if (!fileio::writeAll(imageFd, image.data(), image.size()))
        return false;
    return true;
}

} // namespace

int cramfsBuildImage(const char *sourceFolder, const char *imagePath, const CramfsBuildOptions &options)
{
    if (!sourceFolder || !imagePath)
        return -1;
    const int fd = ::open(imagePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    std::string source = sourceFolder;
    while (source.size() > 1 && source.back() == '/')
        source.pop_back();
    Builder builder(options);
    const bool built = builder.build(source, fd);
    const bool closed = ::close(fd) == 0;
    if (!built || !closed) {
        ::unlink(imagePath);
        return -1;
    }
    return 0;
}

int cramfsBuildImage(const char *sourceFolder, const char *imagePath)
{
    return cramfsBuildImage(sourceFolder, imagePath, CramfsBuildOptions());
}
