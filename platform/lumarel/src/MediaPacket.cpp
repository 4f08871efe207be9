#include "MediaPacket.h"

bool packetFromBlock(const StreamBlock &block, MediaPacket *packet)
{
    const StreamFrameHeader &h = block.header;
    MediaPacket p;
    if (h.kind == kFrameVideoKey || h.kind == kFrameVideoDelta) {
        if (h.codec == kCodecH264)
            p.codecId = AV_CODEC_ID_H264;
        else if (h.codec == kCodecH265)
            p.codecId = AV_CODEC_ID_HEVC;
        else
            return false;
        p.kind = MediaPacket::Video;
        p.key = h.kind == kFrameVideoKey;
        p.rate = h.rate;
        p.width = h.width;
        p.height = h.height;
    } else if (h.kind == kFrameAudio) {
        if (h.codec == kCodecG711A)
            p.codecId = AV_CODEC_ID_PCM_ALAW;
        else if (h.codec == kCodecG711U)
            p.codecId = AV_CODEC_ID_PCM_MULAW;
        else
            return false;
        p.kind = MediaPacket::Audio;
        p.key = true;
        p.rate = int(h.rate) * 10;
    } else {
        return false;
    }
    p.timestampMs = block.type == StreamBlock::Frame ? h.timestampMs : 0;
    p.data.assign(block.payload, block.payload + h.length);
    *packet = std::move(p);
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
