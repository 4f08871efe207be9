#include "DecodeFloor.h"

#include "FrameRenderer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
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

void decodeOne(Stream *stream, const QByteArray &unit, AVPacket *packet, AVFrame *frame,
    const RenderSettings &settings, bool scale)
{
    packet->data = reinterpret_cast<uint8_t *>(const_cast<char *>(unit.constData()));
    packet->size = int(unit.size());
    if (avcodec_send_packet(stream->codec, packet) < 0)
        return;
    while (avcodec_receive_frame(stream->codec, frame) >= 0) {
        if (scale)
            stream->renderer->render(frame, settings);
        av_frame_unref(frame);
    }
}

} // namespace

double realTimeDecodeCpu(
    const std::vector<std::vector<QByteArray>> &streams, const DecodeFloorOptions &options)
{
    double cpu = 0;
    // A thread of its own: its CPU time is the floor's alone.
    std::thread floor([&] {
        const bool scale = !options.window.isEmpty();
        RenderSettings settings;
        settings.targetWidth = options.window.width();
        settings.targetHeight = options.window.height();
        size_t pictures = streams.empty() ? 0 : streams.front().size();
        for (const std::vector<QByteArray> &s : streams)
            pictures = std::min(pictures, s.size());
        std::vector<Stream> decoders(streams.size());
        for (Stream &d : decoders) {
            // The grid's streams are CIF: a small window leaves out what the
            // play library leaves out for it.
            if (!openDecoder(&d, scale && shownAtMostHalf(352, 288, settings)))
                return;
            d.renderer = std::make_unique<FrameRenderer>();
        }
        AVPacket *packet = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        const size_t burst = size_t(std::max(1, options.burst));
        const auto interval = std::chrono::microseconds(1000000 / std::max(1, options.fps));
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        const double cpu0 = threadCpuSeconds();
        for (size_t i = 0; i < pictures; ++i) {
            // Only the last picture of a burst wakes the thread.
            if ((i + 1) % burst != 0 && i + 1 != pictures)
                continue;
            for (size_t c = 0; c < streams.size(); ++c) {
                // The streams' pictures arrive spread over the interval.
                std::this_thread::sleep_until(
                    start + interval * int64_t(i) + interval * int64_t(c) / int64_t(streams.size()));
                for (size_t j = i - std::min(i, (i % burst)); j <= i; ++j)
                    decodeOne(&decoders[c], streams[c][j], packet, frame, settings, scale);
            }
        }
        cpu = threadCpuSeconds() - cpu0;
        av_frame_free(&frame);
        av_packet_free(&packet);
    });
    floor.join();
    return cpu;
}
