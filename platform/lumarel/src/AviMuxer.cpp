#include "AviMuxer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cstdio>

AviMuxer::~AviMuxer()
{
    if (m_ctx)
        finish();
}

bool AviMuxer::open(const std::string &path)
{
    m_path = path;
    if (path.empty() || avformat_alloc_output_context2(&m_ctx, nullptr, "avi", path.c_str()) < 0 || !m_ctx)
        return false;
    if (avio_open(&m_ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
        return false;
    }
    m_packet = av_packet_alloc();
    return m_packet != nullptr;
}

void AviMuxer::setAudio(int sampleRate, AVCodecID codec)
{
    if (!m_header && sampleRate > 0 && (codec == AV_CODEC_ID_PCM_ALAW || codec == AV_CODEC_ID_PCM_MULAW)) {
        m_audioRate = sampleRate;
        m_audioCodec = codec;
    }
}

bool AviMuxer::writeHeader(const MediaPacket &first)
{
    AVStream *video = avformat_new_stream(m_ctx, nullptr);
    if (!video)
        return false;
    const int rate = first.rate > 0 ? first.rate : 25;
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = first.codecId;
    video->codecpar->width = first.width;
    video->codecpar->height = first.height;
    if (first.parameters && first.parameters->extradata_size > 0) {
        video->codecpar->extradata = static_cast<uint8_t *>(
            av_mallocz(size_t(first.parameters->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (video->codecpar->extradata) {
            std::copy(first.parameters->extradata,
                first.parameters->extradata + first.parameters->extradata_size, video->codecpar->extradata);
            video->codecpar->extradata_size = first.parameters->extradata_size;
        }
    }
    video->time_base = AVRational { 1, rate };
    m_videoTimeBase = video->time_base;
    video->avg_frame_rate = AVRational { rate, 1 };
    m_videoCodec = first.codecId;
    if (m_audioRate > 0) {
        AVStream *audio = avformat_new_stream(m_ctx, nullptr);
        if (!audio)
            return false;
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = m_audioCodec;
        audio->codecpar->sample_rate = m_audioRate;
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
        audio->codecpar->bits_per_coded_sample = 8;
        audio->codecpar->block_align = 1;
        audio->codecpar->bit_rate = int64_t(m_audioRate) * 8;
        audio->time_base = AVRational { 1, m_audioRate };
        m_audioStream = audio->index;
    }
    if (avformat_write_header(m_ctx, nullptr) < 0)
        return false;
    m_header = true;
    return true;
}

bool AviMuxer::write(const MediaPacket &packet)
{
    if (!m_ctx || m_failed)
        return false;
    if (!m_header) {
        if (packet.kind != MediaPacket::Video || !packet.key)
            return true;
        if (!writeHeader(packet)) {
            m_failed = true;
            return false;
        }
    }
    int stream = 0;
    int64_t pts = 0;
    int64_t duration = 1;
    if (packet.kind == MediaPacket::Video) {
        if (packet.codecId != m_videoCodec)
            return true; // the stream changed codec: the file keeps the first one
        pts = m_videoFrames++;
    } else {
        if (m_audioStream < 0 || packet.codecId != m_audioCodec || packet.data.empty())
            return true;
        stream = m_audioStream;
        pts = m_audioSamples;
        duration = int64_t(packet.data.size());
        m_audioSamples += duration;
    }
    if (av_new_packet(m_packet, int(packet.data.size())) < 0) {
        m_failed = true;
        return false;
    }
    std::copy(packet.data.begin(), packet.data.end(), m_packet->data);
    m_packet->stream_index = stream;
    m_packet->pts = m_packet->dts = pts;
    m_packet->duration = duration;
    if (packet.key)
        m_packet->flags |= AV_PKT_FLAG_KEY;
    // Our counters are in frames and samples; the muxer may have chosen
    // other time bases for its streams.
    const AVRational ours = stream == 0 ? m_videoTimeBase : AVRational { 1, m_audioRate };
    av_packet_rescale_ts(m_packet, ours, m_ctx->streams[stream]->time_base);
    if (av_interleaved_write_frame(m_ctx, m_packet) < 0) {
        m_failed = true;
        return false;
    }
    return true;
}

bool AviMuxer::finish()
{
    if (!m_ctx)
        return false;
    bool ok = m_header && !m_failed && m_videoFrames > 0;
    if (m_header && av_write_trailer(m_ctx) < 0)
        ok = false;
    if (m_ctx->pb && (m_ctx->pb->error < 0))
        ok = false;
    if (avio_closep(&m_ctx->pb) < 0)
        ok = false;
    avformat_free_context(m_ctx);
    m_ctx = nullptr;
    av_packet_free(&m_packet);
    if (!ok)
        std::remove(m_path.c_str());
    return ok;
}
