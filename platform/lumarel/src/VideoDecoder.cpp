#include "VideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdint>

void FrameDeleter::operator()(AVFrame *frame) const
{
    av_frame_free(&frame);
}

FramePtr referenceFrame(const AVFrame *frame)
{
    AVFrame *copy = av_frame_alloc();
    if (copy && av_frame_ref(copy, frame) < 0)
        av_frame_free(&copy);
    return FramePtr(copy);
}

VideoDecoder::VideoDecoder()
    : m_packet(av_packet_alloc())
{ }

VideoDecoder::~VideoDecoder()
{
    avcodec_free_context(&m_ctx);
    av_packet_free(&m_packet);
    av_buffer_unref(&m_buffer);
    av_frame_free(&m_spare);
}

bool VideoDecoder::ensure(const MediaPacket &packet)
{
    if (m_ctx && m_codecId == int(packet.codecId))
        return true;
    avcodec_free_context(&m_ctx);
    m_codecId = 0;
    const AVCodec *codec = avcodec_find_decoder(packet.codecId);
    if (!codec)
        return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx)
        return false;
    if (packet.parameters)
        avcodec_parameters_to_context(m_ctx, packet.parameters.get());
    // Pictures leave the decoder as soon as they are complete: frame
    // threading would hold several back, and buffer figures must drain.
    // Every port has its own thread already, and a grid runs many ports at
    // once, so each decoder works on that one thread.
    m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    m_ctx->thread_count = 1;
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        avcodec_free_context(&m_ctx);
        return false;
    }
    m_codecId = int(packet.codecId);
    m_waitKey = true;
    return true;
}

void VideoDecoder::receive(std::vector<FramePtr> *frames)
{
    for (;;) {
        // The frame asked for in vain last time is asked for again.
        if (!m_spare && !(m_spare = av_frame_alloc()))
            return;
        if (avcodec_receive_frame(m_ctx, m_spare) < 0)
            return;
        if (m_spare->pts == AV_NOPTS_VALUE)
            m_spare->pts = m_spare->best_effort_timestamp;
        frames->push_back(FramePtr(m_spare));
        m_spare = nullptr;
    }
}

bool VideoDecoder::fillPacket(const MediaPacket &packet)
{
    // The packet's buffer is the one of the last packet when the decoder
    // let go of it: no allocation for each picture.
    const size_t size = packet.data.size();
    const size_t needed = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (size > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return false;
    if (!m_buffer || !av_buffer_is_writable(m_buffer) || m_buffer->size < needed) {
        av_buffer_unref(&m_buffer);
        m_buffer = av_buffer_alloc(std::max<size_t>(needed, 2 * (m_lastSize + AV_INPUT_BUFFER_PADDING_SIZE)));
        if (!m_buffer)
            return false;
    }
    m_lastSize = std::max(m_lastSize, size);
    std::copy(packet.data.begin(), packet.data.end(), m_buffer->data);
    std::fill(m_buffer->data + size, m_buffer->data + needed, 0);
    m_packet->buf = av_buffer_ref(m_buffer);
    if (!m_packet->buf)
        return false;
    m_packet->data = m_buffer->data;
    m_packet->size = int(size);
    return true;
}

bool VideoDecoder::decode(const MediaPacket &packet, std::vector<FramePtr> *frames)
{
    if (!ensure(packet))
        return false;
    if (m_waitKey) {
        if (!packet.key)
            return true; // a picture that refers to one we never had
        m_waitKey = false;
    }
    // Read by the decoder at every slice, so a change takes effect at once.
    m_ctx->skip_loop_filter = m_skipDeblocking ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
    if (!fillPacket(packet))
        return false;
    m_packet->pts = packet.timestampMs;
    if (packet.key)
        m_packet->flags |= AV_PKT_FLAG_KEY;
    int r = avcodec_send_packet(m_ctx, m_packet);
    if (r == AVERROR(EAGAIN)) {
        receive(frames);
        r = avcodec_send_packet(m_ctx, m_packet);
    }
    av_packet_unref(m_packet);
    receive(frames);
    return r >= 0;
}

void VideoDecoder::flush()
{
    if (m_ctx)
        avcodec_flush_buffers(m_ctx);
    m_waitKey = true;
}
