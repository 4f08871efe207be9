// The GIF decoder of the logo check (GIF87a and GIF89a): the logical screen
// makes the picture, every frame is drawn into it through its colour table,
// clipped to the picture. Everything read is checked against the data.

#include "ImageSize.h"

#include <cstring>
#include <new>

namespace {

constexpr int kMaxCodes = 4096;

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// The bytes of a run of sub-blocks, up to its terminator or the end of data;
// a sub-block that claims more than is left gives what is left.
class SubBlocks
{
public:
    SubBlocks(const uint8_t *data, size_t length, size_t *pos)
        : m_data(data)
        , m_length(length)
        , m_pos(pos)
    { }

    int next()
    {
        while (m_left == 0) {
            if (m_done || *m_pos >= m_length) {
                m_truncated = m_truncated || !m_done;
                m_done = true;
                return -1;
            }
            const size_t n = m_data[(*m_pos)++];
            if (n == 0) {
                m_done = true;
                return -1;
            }
            m_left = n;
        }
        if (*m_pos >= m_length) {
            m_left = 0;
            m_truncated = true;
            m_done = true;
            return -1;
        }
        --m_left;
        return m_data[(*m_pos)++];
    }

    // Skips to the terminator; false when the data ended first.
    bool finish()
    {
        while (next() >= 0) { }
        return !m_truncated;
    }

    // The next sub-block whole (at most 255 bytes); false at the terminator or the end.
    bool block(uint8_t *out, size_t *size)
    {
        if (m_left != 0 || m_done || *m_pos >= m_length)
            return false;
        const size_t n = m_data[*m_pos];
        if (n == 0 || m_length - *m_pos - 1 < n)
            return false;
        std::memcpy(out, m_data + *m_pos + 1, n);
        *m_pos += 1 + n;
        *size = n;
        return true;
    }

private:
    const uint8_t *m_data;
    size_t m_length;
    size_t *m_pos;
    size_t m_left = 0;
    bool m_done = false;
    bool m_truncated = false;
};

struct Frame
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    const uint8_t *table = nullptr;
    int tableSize = 0;
    int transparent = -1;
};

// Where decoded pixels go: the frame's rows (interlaced or not) inside the
// picture; pixels past the frame, off the picture or without a colour are dropped.
class PixelSink
{
public:
    PixelSink(DecodedPicture *picture, const Frame &frame)
        : m_picture(picture)
        , m_frame(frame)
        , m_total(int64_t(frame.width) * frame.height)
    {
        m_rows.reserve(size_t(frame.height));
        if (!frame.interlaced) {
            for (int y = 0; y < frame.height; ++y)
                m_rows.push_back(y);
            return;
        }
        static const int starts[] = { 0, 4, 2, 1 };
        static const int steps[] = { 8, 8, 4, 2 };
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = starts[pass]; y < frame.height; y += steps[pass])
                m_rows.push_back(y);
        }
    }

    void put(int index)
    {
        if (m_done >= m_total)
            return;
        const int x = int(m_done % m_frame.width);
        const int y = m_rows[size_t(m_done / m_frame.width)];
        ++m_done;
        if (index >= m_frame.tableSize || index == m_frame.transparent)
            return;
        const int64_t px = int64_t(m_frame.left) + x;
        const int64_t py = int64_t(m_frame.top) + y;
        if (px < 0 || py < 0 || px >= m_picture->width || py >= m_picture->height)
            return;
        const uint8_t *rgb = m_frame.table + 3 * index;
        m_picture->pixels[size_t(py) * size_t(m_picture->stride / 2) + size_t(px)]
            = convertRgbTo16(rgb[0], rgb[1], rgb[2], m_picture->pixelType);
    }

    bool full() const { return m_done >= m_total; }

private:
    DecodedPicture *m_picture;
    const Frame &m_frame;
    int64_t m_total;
    int64_t m_done = 0;
    std::vector<int> m_rows;
};

enum class Lzw { Ended, Error };

// LZW decompression of one frame's data into the sink.
Lzw decodeLzw(SubBlocks &in, int minCodeSize, PixelSink &sink)
{
    uint16_t prefix[kMaxCodes];
    uint8_t suffix[kMaxCodes];
    uint8_t stack[kMaxCodes + 1];
    for (int i = 0; i < kMaxCodes; ++i) {
        prefix[i] = 0;
        suffix[i] = uint8_t(i);
    }
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    int codeSize = minCodeSize + 1;
    int next = clear + 2;
    int prev = -1;
    int first = 0;
    uint32_t bits = 0;
    int bitCount = 0;
    for (;;) {
        while (bitCount < codeSize) {
            const int byte = in.next();
            if (byte < 0)
                return Lzw::Ended;
            bits |= uint32_t(byte) << bitCount;
            bitCount += 8;
        }
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
            codeSize = minCodeSize + 1;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == end)
            return Lzw::Ended;
        if (prev < 0) {
            if (code > clear)
                return Lzw::Error;
            sink.put(code);
            prev = first = code;
            continue;
        }
        if (code > next || (code == next && next >= kMaxCodes))
            return Lzw::Error;
        int sp = 0;
        int current = code;
        if (code == next) {
            stack[sp++] = uint8_t(first);
            current = prev;
        }
        while (current >= clear) {
            if (sp >= kMaxCodes)
                return Lzw::Error;
            stack[sp++] = suffix[current];
            current = prefix[current];
        }
        first = current;
        stack[sp++] = uint8_t(first);
        if (next < kMaxCodes) {
            prefix[next] = uint16_t(prev);
            suffix[next] = uint8_t(first);
            ++next;
            if (next == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        while (sp > 0)
            sink.put(stack[--sp]);
        prev = code;
        if (sink.full())
            return Lzw::Ended;
    }
}

} // namespace

std::unique_ptr<DecodedPicture> parseGifFile(const uint8_t *data, size_t length)
{
    if (!data || length < 13)
        return nullptr;
    const bool gif87 = std::memcmp(data, "GIF87a", 6) == 0;
    if (!gif87 && std::memcmp(data, "GIF89a", 6) != 0)
        return nullptr;
    const int screenWidth = le16(data + 6);
    const int screenHeight = le16(data + 8);
    const uint8_t flags = data[10];
    if (screenWidth > ImageLimits::kMaxSide || screenHeight > ImageLimits::kMaxSide
        || int64_t(screenWidth) * screenHeight > ImageLimits::kMaxPixels)
        return nullptr;

    std::unique_ptr<DecodedPicture> picture(new (std::nothrow) DecodedPicture);
    if (!picture)
        return nullptr;
    picture->width = screenWidth;
    picture->height = screenHeight;
    picture->pixelType = 0;
    picture->stride = (screenWidth * 2 + 3) & ~3;
    try {
        picture->pixels.assign(size_t((screenWidth + 1) & ~1) * size_t(screenHeight), 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }

    size_t pos = 13;
    const uint8_t *globalTable = nullptr;
    int globalSize = 0;
    if (flags & 0x80) {
        globalSize = 2 << (flags & 7);
        if (length - pos < size_t(3 * globalSize))
            return picture;
        globalTable = data + pos;
        pos += size_t(3 * globalSize);
    }

    int workWidth = screenWidth;
    int workHeight = screenHeight;
    bool seenImage = false;
    int transparent = -1;
    try {
        while (pos < length) {
            const uint8_t kind = data[pos++];
            if (kind == ';')
                return picture;
            if (kind == '!') {
                if (pos >= length)
                    return picture;
                const uint8_t label = data[pos++];
                SubBlocks blocks(data, length, &pos);
                uint8_t block[255];
                size_t size = 0;
                if (label == 0xF9 && blocks.block(block, &size) && size >= 4)
                    transparent = (block[0] & 1) ? block[3] : -1;
                if (label == 0xFF && blocks.block(block, &size) && size == 11
                    && (std::memcmp(block, "NETSCAPE2.0", 11) == 0
                        || std::memcmp(block, "ANIMEXTS1.0", 11) == 0)) {
                    // The loop count: read, not used by a size reader.
                    blocks.block(block, &size);
                }
                if (!blocks.finish())
                    return picture;
                continue;
            }
            if (kind != ',') {
                if (!seenImage)
                    return nullptr;
                return picture;
            }

            if (length - pos < 9)
                return picture;
            Frame frame;
            frame.left = le16(data + pos);
            frame.top = le16(data + pos + 2);
            frame.width = le16(data + pos + 4);
            frame.height = le16(data + pos + 6);
            const uint8_t imageFlags = data[pos + 8];
            pos += 9;
            if (!seenImage && (gif87 || frame.width > workWidth || frame.height > workHeight)) {
                workWidth = frame.width;
                workHeight = frame.height;
                frame.left = 0;
                frame.top = 0;
            }
            if (frame.width == 0 || frame.height == 0) {
                frame.width = workWidth;
                frame.height = workHeight;
                if (frame.width == 0 || frame.height == 0)
                    return nullptr;
            }
            seenImage = true;
            frame.interlaced = (imageFlags & 0x40) != 0;
            frame.table = globalTable;
            frame.tableSize = globalSize;
            if (imageFlags & 0x80) {
                const int localSize = 2 << (imageFlags & 7);
                if (length - pos < size_t(3 * localSize))
                    return picture;
                frame.table = data + pos;
                frame.tableSize = localSize;
                pos += size_t(3 * localSize);
            }
            if (!frame.table)
                return nullptr;
            frame.transparent = transparent;
            transparent = -1;
            if (pos >= length)
                return picture;
            const int minCodeSize = data[pos++];
            if (minCodeSize < 2 || minCodeSize > 11)
                return nullptr;
            SubBlocks blocks(data, length, &pos);
            PixelSink sink(picture.get(), frame);
            if (decodeLzw(blocks, minCodeSize, sink) == Lzw::Error)
                return nullptr;
            if (!blocks.finish())
                return picture;
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return picture;
}
