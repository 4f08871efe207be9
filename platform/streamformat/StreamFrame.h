#pragma once

// Device stream format of the stand-in libraries.
//
// A stream is a sequence of blocks. Most blocks are frames: a 32-byte header
// (all numbers little-endian) followed by the payload:
//
//   offset size field
//   0      4    magic "TVF1"
//   4      1    frame kind (StreamFrameKind)
//   5      1    codec (StreamCodec)
//   6      2    width in pixels (video) or 0
//   8      2    height in pixels (video) or 0
//   10     2    frame rate (video, frames per second) or sample rate / 10 (audio)
//   12     4    sequence number of the frame within its stream
//   16     8    timestamp, milliseconds since 1970-01-01 UTC (the device clock)
//   24     4    payload length in bytes
//   28     4    header check: magic ^ length ^ (kind << 8 | codec)
//
// Video payloads are Annex-B (start codes included); audio payloads are G.711
// bytes, one per sample. A stream file (".h265x") is such a sequence of frames
// written one after the other.
//
// Voice frames of a talk use the device's own short head instead:
//   00 00 01 FA 0E {02 at 8000 Hz | 04 at 16000 Hz} len16(little-endian) + len A-law bytes
// A reader of a stream accepts both kinds of block.

#include <cstddef>
#include <cstdint>

enum StreamFrameKind : uint8_t {
    kFrameVideoKey = 1, // a key frame: decodable on its own (carries parameter sets)
    kFrameVideoDelta = 2, // a predicted frame
    kFrameAudio = 3,
};

enum StreamCodec : uint8_t {
    kCodecH264 = 1,
    kCodecH265 = 2,
    kCodecG711A = 16,
    kCodecG711U = 17,
};

constexpr uint32_t kStreamFrameMagic = 0x31465654u; // "TVF1" read little-endian
constexpr size_t kStreamFrameHeaderSize = 32;
constexpr size_t kVoiceFrameHeaderSize = 8;
// Largest payload a reader takes; a larger length marks a corrupt block.
constexpr uint32_t kStreamFrameMaxPayload = 8u * 1024u * 1024u;

struct StreamFrameHeader
{
    uint8_t kind = 0;
    uint8_t codec = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t rate = 0;
    uint32_t sequence = 0;
    int64_t timestampMs = 0;
    uint32_t length = 0;
};

// Writes the 32-byte header for `h` into `out`.
void writeStreamFrameHeader(const StreamFrameHeader &h, uint8_t out[kStreamFrameHeaderSize]);
// Reads and checks a 32-byte header; false for anything that is not one.
bool readStreamFrameHeader(const uint8_t *in, size_t size, StreamFrameHeader *h);
// Writes the 8-byte head of a voice frame carrying `length` A-law bytes.
void writeVoiceFrameHeader(uint32_t sampleRate, uint16_t length, uint8_t out[kVoiceFrameHeaderSize]);

// One block found in a byte stream.
struct StreamBlock
{
    enum Type { Frame, Voice } type = Frame;
    StreamFrameHeader header; // Frame: the header; Voice: codec G.711 A-law, rate and length
    const uint8_t *payload = nullptr;
    size_t blockSize = 0; // header plus payload
};

enum class StreamScan {
    Block, // a complete block starts at the beginning of the data
    NeedMore, // the data begins with an incomplete block
    Garbage, // the data does not begin with a block; skip `skip` bytes
};

// Looks at the start of `data`. On Garbage, `*skip` tells how many bytes can
// be dropped before the next possible block start (at least 1).
StreamScan scanStreamBlock(const uint8_t *data, size_t size, StreamBlock *block, size_t *skip);
