#pragma once

// On-disk layout of a cramfs image (little-endian), shared by the reader and
// the builder.

#include <cstdint>

namespace cramfs {

constexpr uint32_t kMagic = 0x28CD3D45;
constexpr uint32_t kSuperblockSize = 76;
constexpr uint32_t kPadSize = 512; // an image may start after this many bytes
constexpr uint32_t kInodeSize = 12;
constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kMaxCompressedBlock = 2 * kBlockSize;
constexpr uint32_t kMaxNameLength = 252; // 6 bits of 4-byte units
constexpr uint32_t kMaxFileSize = 0xFFFFFF; // 24-bit size field
constexpr uint32_t kMaxDataOffset = (1u << 26) * 4; // 26 bits of 4-byte units

constexpr uint32_t kFlagFsidVersion2 = 0x1;
constexpr uint32_t kFlagSortedDirs = 0x2;
constexpr uint32_t kFlagShiftedRootOffset = 0x400;
constexpr uint32_t kFirstUnsupportedFlag = 0x800;

// Superblock field offsets.
constexpr uint32_t kSizeField = 4;
constexpr uint32_t kFlagsField = 8;
constexpr uint32_t kSignatureField = 16;
constexpr uint32_t kCrcField = 32;
constexpr uint32_t kEditionField = 36;
constexpr uint32_t kBlocksField = 40;
constexpr uint32_t kFilesField = 44;
constexpr uint32_t kNameField = 48;
constexpr uint32_t kRootInodeField = 64;

constexpr char kSignature[] = "Compressed ROMFS"; // 16 bytes, no terminator on disk

inline uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void writeLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

struct Inode
{
    uint16_t mode = 0;
    uint16_t uid = 0;
    uint32_t size = 0; // 24 bits
    uint8_t gid = 0;
    uint32_t nameLength = 0; // bytes, a multiple of 4
    uint32_t offset = 0; // bytes, a multiple of 4
};

inline uint32_t inodeOffsetWord(const uint8_t *p)
{
    return readLe32(p + 8);
}

inline Inode decodeInode(const uint8_t *p)
{
    Inode in;
    in.mode = uint16_t(p[0] | p[1] << 8);
    in.uid = uint16_t(p[2] | p[3] << 8);
    const uint32_t sizeGid = readLe32(p + 4);
    in.size = sizeGid & 0xFFFFFF;
    in.gid = uint8_t(sizeGid >> 24);
    const uint32_t word = inodeOffsetWord(p);
    in.nameLength = (word & 0x3F) * 4;
    in.offset = (word >> 6) * 4;
    return in;
}

inline void encodeInode(const Inode &in, uint8_t *p)
{
    p[0] = uint8_t(in.mode);
    p[1] = uint8_t(in.mode >> 8);
    p[2] = uint8_t(in.uid);
    p[3] = uint8_t(in.uid >> 8);
    writeLe32(p + 4, (in.size & 0xFFFFFF) | uint32_t(in.gid) << 24);
    writeLe32(p + 8, ((in.nameLength / 4) & 0x3F) | (in.offset / 4) << 6);
}

} // namespace cramfs
