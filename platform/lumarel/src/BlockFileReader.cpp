#include "BlockFileReader.h"

#include <cstring>

namespace {
constexpr size_t kChunk = 1 << 20;
}

BlockFileReader::~BlockFileReader()
{
    close();
}

bool BlockFileReader::open(const std::string &path)
{
    close();
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return false;
    if (std::fseek(m_file, 0, SEEK_END) != 0 || (m_size = std::ftell(m_file)) < 0
        || std::fseek(m_file, 0, SEEK_SET) != 0) {
        close();
        return false;
    }
    m_buffer.resize(kChunk);
    return true;
}

void BlockFileReader::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_size = 0;
    m_start = m_end = m_lastStart = 0;
    m_bufferOffset = 0;
    m_eof = m_failed = false;
}

bool BlockFileReader::fill()
{
    if (m_eof || !m_file)
        return false;
    // Move the unread bytes to the front, grow for a large block.
    if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_bufferOffset += int64_t(m_start);
        m_end -= m_start;
        m_start = 0;
    }
    if (m_end == m_buffer.size())
        m_buffer.resize(m_buffer.size() * 2);
    const size_t n = std::fread(m_buffer.data() + m_end, 1, m_buffer.size() - m_end, m_file);
    if (n == 0) {
        if (std::ferror(m_file))
            m_failed = true;
        m_eof = true;
        return false;
    }
    m_end += n;
    return true;
}

bool BlockFileReader::next(StreamBlock *block, int64_t *offset)
{
    if (!m_file)
        return false;
    for (;;) {
        size_t skip = 0;
        const StreamScan r = scanStreamBlock(m_buffer.data() + m_start, m_end - m_start, block, &skip);
        if (r == StreamScan::Block) {
            m_lastStart = m_start;
            if (offset)
                *offset = m_bufferOffset + int64_t(m_start);
            m_start += block->blockSize;
            return true;
        }
        if (r == StreamScan::Garbage) {
            m_start += skip;
            continue;
        }
        // The largest block is a header plus kStreamFrameMaxPayload; fill()
        // grows the buffer up to that and the end of the file stops it.
        if (!fill())
            return false;
    }
}

bool BlockFileReader::seek(int64_t offset)
{
    if (!m_file || offset < 0 || offset > m_size)
        return false;
    if (std::fseek(m_file, long(offset), SEEK_SET) != 0)
        return false;
    m_bufferOffset = offset;
    m_start = m_end = m_lastStart = 0;
    m_eof = m_failed = false;
    return true;
}
