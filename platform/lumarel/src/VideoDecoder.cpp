#include "VideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

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
        AVFrame *frame = av_frame_alloc();
        if (!frame)
            return;
        if (avcodec_receive_frame(m_ctx, frame) < 0) {
            av_frame_free(&frame);
            return;
        }
        if (frame->pts == AV_NOPTS_VALUE)
            frame->pts = frame->best_effort_timestamp;
        frames->push_back(FramePtr(frame));
    }
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
    if (av_new_packet(m_packet, int(packet.data.size())) < 0)
        return false;
    std::copy(packet.data.begin(), packet.data.end(), m_packet->data);
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
