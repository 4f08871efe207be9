#include "MediaPacket.h"

bool packetFromBlock(const StreamBlock &block, MediaPacket *packet)
{
    const StreamFrameHeader &h = block.header;
    MediaPacket::Kind kind;
    AVCodecID codec;
    if (h.kind == kFrameVideoKey || h.kind == kFrameVideoDelta) {
        kind = MediaPacket::Video;
        if (h.codec == kCodecH264)
            codec = AV_CODEC_ID_H264;
        else if (h.codec == kCodecH265)
            codec = AV_CODEC_ID_HEVC;
        else
            return false;
    } else if (h.kind == kFrameAudio) {
        kind = MediaPacket::Audio;
        if (h.codec == kCodecG711A)
            codec = AV_CODEC_ID_PCM_ALAW;
        else if (h.codec == kCodecG711U)
            codec = AV_CODEC_ID_PCM_MULAW;
        else
            return false;
    } else {
        return false;
    }
    // Filled in place: the packet's buffer is reused when it is large enough.
    MediaPacket &p = *packet;
    p.kind = kind;
    p.codecId = codec;
    if (kind == MediaPacket::Video) {
        p.key = h.kind == kFrameVideoKey;
        p.rate = h.rate;
        p.width = h.width;
        p.height = h.height;
    } else {
        p.key = true;
        p.rate = int(h.rate) * 10;
        p.width = 0;
        p.height = 0;
    }
    p.timestampMs = block.type == StreamBlock::Frame ? h.timestampMs : 0;
    p.data.assign(block.payload, block.payload + h.length);
    p.parameters.reset();
    return true;
}

std::vector<uint8_t> blockFromPacket(const MediaPacket &packet, uint32_t sequence)
{
    StreamFrameHeader h;
    if (packet.kind == MediaPacket::Video) {
        h.kind = packet.key ? kFrameVideoKey : kFrameVideoDelta;
        h.codec = packet.codecId == AV_CODEC_ID_HEVC ? kCodecH265 : kCodecH264;
        h.width = uint16_t(packet.width);
        h.height = uint16_t(packet.height);
        h.rate = uint16_t(packet.rate);
    } else {
        h.kind = kFrameAudio;
        h.codec = packet.codecId == AV_CODEC_ID_PCM_MULAW ? kCodecG711U : kCodecG711A;
        h.rate = uint16_t(packet.rate / 10);
    }
    h.sequence = sequence;
    h.timestampMs = packet.timestampMs;
    h.length = uint32_t(packet.data.size());
    std::vector<uint8_t> out(kStreamFrameHeaderSize + packet.data.size());
    writeStreamFrameHeader(h, out.data());
    std::copy(packet.data.begin(), packet.data.end(), out.begin() + kStreamFrameHeaderSize);
    return out;
}
