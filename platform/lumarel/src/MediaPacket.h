#pragma once

// One unit of media inside the library: a video access unit or a block of
// audio, with what the decoder and the muxers need to know about it.

#include "StreamFrame.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecParameters;

struct MediaPacket
{
    enum Kind { Video, Audio };
    Kind kind = Video;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    bool key = false;
    int64_t timestampMs = 0; // calendar milliseconds for streams, 0 when unknown
    int rate = 0; // frames per second (video) or samples per second (audio)
    int width = 0;
    int height = 0;
    std::vector<uint8_t> data;
    // Codec set-up of a file's stream (extradata), null for device streams.
    std::shared_ptr<const AVCodecParameters> parameters;
};

// Turns one block of the device stream format into a packet, reusing the
// packet's buffer; false (the packet unchanged) for a block of a kind or
// codec that the library does not play.
bool packetFromBlock(const StreamBlock &block, MediaPacket *packet);

// Writes a packet back as a block of the device stream format.
std::vector<uint8_t> blockFromPacket(const MediaPacket &packet, uint32_t sequence);
