#include "DecodeFloor.h"

#include "FrameRenderer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

namespace {

double threadCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Stream
{
    AVCodecContext *codec = nullptr;
    std::unique_ptr<FrameRenderer> renderer;
    ~Stream() { avcodec_free_context(&codec); }
};

// Opens a decoder as the play library does: one thread, pictures out as
// soon as they are complete.
bool openDecoder(Stream *stream, bool skipDeblocking)
{
    const AVCodec *h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    stream->codec = h264 ? avcodec_alloc_context3(h264) : nullptr;
    if (!stream->codec)
        return false;
    stream->codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    stream->codec->thread_count = 1;
    if (skipDeblocking)
        stream->codec->skip_loop_filter = AVDISCARD_ALL;
    return avcodec_open2(stream->codec, h264, nullptr) >= 0;
}

} // namespace

struct RealTimeDecode::Decoders
{
    std::vector<Stream> streams;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    RenderSettings settings;
    bool ok = true;

    ~Decoders()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
    }

    void decode(size_t stream, const QByteArray &unit, bool scale)
    {
        Stream &s = streams[stream];
        packet->data = reinterpret_cast<uint8_t *>(const_cast<char *>(unit.constData()));
        packet->size = int(unit.size());
        if (avcodec_send_packet(s.codec, packet) < 0)
            return;
        while (avcodec_receive_frame(s.codec, frame) >= 0) {
            if (scale)
                s.renderer->render(frame, settings);
            av_frame_unref(frame);
        }
    }
};

RealTimeDecode::RealTimeDecode(
    const std::vector<std::vector<QByteArray>> *streams, const DecodeFloorOptions &options)
    : m_streams(streams)
    , m_options(options)
    , m_decoders(std::make_unique<Decoders>())
{
    m_decoders->settings.targetWidth = options.window.width();
    m_decoders->settings.targetHeight = options.window.height();
    m_decoders->streams = std::vector<Stream>(streams->size());
    for (Stream &s : m_decoders->streams) {
        // The grid's streams are CIF: a small window leaves out what the
        // play library leaves out for it.
        const bool small = !options.window.isEmpty() && shownAtMostHalf(352, 288, m_decoders->settings);
        m_decoders->ok = m_decoders->ok && openDecoder(&s, small);
        s.renderer = std::make_unique<FrameRenderer>();
    }
}

RealTimeDecode::~RealTimeDecode() = default;

double RealTimeDecode::next(size_t pictures)
{
    size_t available = m_streams->empty() ? 0 : m_streams->front().size();
    for (const std::vector<QByteArray> &s : *m_streams)
        available = std::min(available, s.size());
    const size_t end = std::min(available, m_done + pictures);
    if (!m_decoders->ok || end <= m_done)
        return 0;
    double cpu = 0;
    // A thread of its own: its CPU time is the floor's alone.
    std::thread floor([&] {
        const bool scale = !m_options.window.isEmpty();
        const size_t burst = size_t(std::max(1, m_options.burst));
        const size_t count = m_streams->size();
        const auto interval = std::chrono::microseconds(1000000 / std::max(1, m_options.fps));
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
        const double cpu0 = threadCpuSeconds();
        for (size_t i = m_done; i < end; ++i) {
            // Only the last picture of a burst wakes the thread.
            if ((i + 1) % burst != 0 && i + 1 != end)
                continue;
            const size_t first = std::max(m_done, i - std::min(i, i % burst));
            for (size_t c = 0; c < count; ++c) {
                // The streams' pictures arrive spread over the interval.
                std::this_thread::sleep_until(
                    start + interval * int64_t(i - m_done) + interval * int64_t(c) / int64_t(count));
                for (size_t j = first; j <= i; ++j)
                    m_decoders->decode(c, (*m_streams)[c][j], scale);
            }
        }
        cpu = threadCpuSeconds() - cpu0;
    });
    floor.join();
    m_done = end;
    return cpu;
}
