#include "StreamFrame.h"

#include <cstring>

namespace {

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void put64(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint16_t get16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t get64(const uint8_t *p)
{
    return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32;
}

uint32_t headerCheck(uint32_t length, uint8_t kind, uint8_t codec)
{
    return kStreamFrameMagic ^ length ^ (uint32_t(kind) << 8 | codec);
}

const uint8_t kVoiceHead[5] = { 0x00, 0x00, 0x01, 0xFA, 0x0E };
const uint8_t kMagicBytes[4] = { 'T', 'V', 'F', '1' };

} // namespace

void writeStreamFrameHeader(const StreamFrameHeader &h, uint8_t out[kStreamFrameHeaderSize])
{
    put32(out, kStreamFrameMagic);
    out[4] = h.kind;
    out[5] = h.codec;
    put16(out + 6, h.width);
    put16(out + 8, h.height);
    put16(out + 10, h.rate);
    put32(out + 12, h.sequence);
    put64(out + 16, uint64_t(h.timestampMs));
    put32(out + 24, h.length);
    put32(out + 28, headerCheck(h.length, h.kind, h.codec));
}

bool readStreamFrameHeader(const uint8_t *in, size_t size, StreamFrameHeader *h)
{
    if (size < kStreamFrameHeaderSize || get32(in) != kStreamFrameMagic)
        return false;
    StreamFrameHeader r;
    r.kind = in[4];
    r.codec = in[5];
    r.width = get16(in + 6);
    r.height = get16(in + 8);
    r.rate = get16(in + 10);
    r.sequence = get32(in + 12);
    r.timestampMs = int64_t(get64(in + 16));
    r.length = get32(in + 24);
    if (get32(in + 28) != headerCheck(r.length, r.kind, r.codec))
        return false;
    if (r.kind < kFrameVideoKey || r.kind > kFrameAudio || r.length > kStreamFrameMaxPayload)
        return false;
    *h = r;
    return true;
}

void writeVoiceFrameHeader(uint32_t sampleRate, uint16_t length, uint8_t out[kVoiceFrameHeaderSize])
{
    std::memcpy(out, kVoiceHead, sizeof kVoiceHead);
    out[5] = sampleRate == 16000 ? 0x04 : 0x02;
    put16(out + 6, length);
}

StreamScan scanStreamBlock(const uint8_t *data, size_t size, StreamBlock *block, size_t *skip)
{
    *skip = 0;
    if (size == 0)
        return StreamScan::NeedMore;

    // Our frame header: "TVF1"...
    const size_t magicLen = size < 4 ? size : 4;
    if (std::memcmp(data, kMagicBytes, magicLen) == 0) {
        if (size < kStreamFrameHeaderSize)
            return StreamScan::NeedMore;
        StreamFrameHeader h;
        if (readStreamFrameHeader(data, size, &h)) {
            if (size - kStreamFrameHeaderSize < h.length)
                return StreamScan::NeedMore;
            block->type = StreamBlock::Frame;
            block->header = h;
            block->payload = data + kStreamFrameHeaderSize;
            block->blockSize = kStreamFrameHeaderSize + h.length;
            return StreamScan::Block;
        }
    } else {
        // ... or the voice head 00 00 01 FA 0E.
        const size_t headLen = size < sizeof kVoiceHead ? size : sizeof kVoiceHead;
        if (std::memcmp(data, kVoiceHead, headLen) == 0) {
            if (size < kVoiceFrameHeaderSize)
                return StreamScan::NeedMore;
            if (data[5] == 0x02 || data[5] == 0x04) {
                const uint16_t len = get16(data + 6);
                if (size - kVoiceFrameHeaderSize < len)
                    return StreamScan::NeedMore;
                block->type = StreamBlock::Voice;
                block->header = StreamFrameHeader();
                block->header.kind = kFrameAudio;
                block->header.codec = kCodecG711A;
                block->header.rate = data[5] == 0x04 ? 1600 : 800;
                block->header.length = len;
                block->payload = data + kVoiceFrameHeaderSize;
                block->blockSize = kVoiceFrameHeaderSize + len;
                return StreamScan::Block;
            }
        }
    }

    // Not a block: drop bytes up to the next byte that could start one.
    size_t i = 1;
    while (i < size && data[i] != 'T' && data[i] != 0x00)
        ++i;
    *skip = i;
    return StreamScan::Garbage;
}
