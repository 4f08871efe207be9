#pragma once

// Reads the blocks of a ".h265x" stream file one after the other. Bytes that
// are not a block are skipped; a truncated last block ends the file.

#include "StreamFrame.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class BlockFileReader
{
public:
    BlockFileReader() = default;
    ~BlockFileReader();
    BlockFileReader(const BlockFileReader &) = delete;
    BlockFileReader &operator=(const BlockFileReader &) = delete;

    bool open(const std::string &path);
    void close();
    bool isOpen() const { return m_file != nullptr; }
    int64_t size() const { return m_size; }

    // The next block; its payload stays valid until the next call. `offset`
    // receives the block's position in the file. False at the end or on a
    // read error (see failed()).
    bool next(StreamBlock *block, int64_t *offset);
    // The raw bytes of the block that next() returned last.
    const uint8_t *rawBlock() const { return m_buffer.data() + m_lastStart; }
    // Bytes consumed so far (the position after the last block returned).
    int64_t position() const { return m_bufferOffset + int64_t(m_start); }
    bool seek(int64_t offset);
    bool failed() const { return m_failed; }

private:
    bool fill();

    FILE *m_file = nullptr;
    int64_t m_size = 0;
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0; // first unread byte in the buffer
    size_t m_end = 0; // end of valid bytes in the buffer
    size_t m_lastStart = 0;
    int64_t m_bufferOffset = 0; // file offset of m_buffer[0]
    bool m_eof = false;
    bool m_failed = false;
};
