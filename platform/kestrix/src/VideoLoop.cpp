#include "VideoLoop.h"

#include "TestPicture.h"

#include "StreamFrame.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <tuple>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <jpeglib.h>

namespace kx {

namespace {

std::shared_ptr<VideoLoop> encodeLoop(int channel, int width, int height)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        std::fprintf(stderr, "kestrix: no H.264 encoder available\n");
        return nullptr;
    }
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    AVFrame *frame = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    auto loop = std::make_shared<VideoLoop>();
    loop->channel = channel;
    loop->width = width;
    loop->height = height;
    bool ok = ctx && frame && pkt;
    if (ok) {
        ctx->width = width;
        ctx->height = height;
        ctx->time_base = AVRational { 1, kFrameRate };
        ctx->framerate = AVRational { kFrameRate, 1 };
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx->gop_size = kKeyInterval;
        ctx->keyint_min = kKeyInterval;
        ctx->max_b_frames = 0;
        ctx->thread_count = 1;
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "crf", "26", 0);
        av_opt_set(ctx->priv_data, "x264-params", "scenecut=0:log=-1", 0);
        ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    }
    if (ok) {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = width;
        frame->height = height;
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    YuvImage img;
    img.width = width;
    img.height = height;
    auto drain = [&]() {
        while (avcodec_receive_packet(ctx, pkt) >= 0) {
            EncodedFrame f;
            f.data.assign(pkt->data, pkt->data + pkt->size);
            f.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            loop->frames.push_back(std::move(f));
            av_packet_unref(pkt);
        }
    };
    for (int i = 0; ok && i < kLoopFrames; ++i) {
        drawTestPicture(&img, channel, i, kLoopFrames);
        ok = av_frame_make_writable(frame) >= 0;
        if (!ok)
            break;
        for (int y = 0; y < height; ++y)
            std::copy_n(img.y.data() + y * width, width, frame->data[0] + y * frame->linesize[0]);
        for (int y = 0; y < height / 2; ++y) {
            std::copy_n(img.u.data() + y * (width / 2), width / 2, frame->data[1] + y * frame->linesize[1]);
            std::copy_n(img.v.data() + y * (width / 2), width / 2, frame->data[2] + y * frame->linesize[2]);
        }
        frame->pts = i;
        if (i % kKeyInterval == 0)
            frame->pict_type = AV_PICTURE_TYPE_I;
        else
            frame->pict_type = AV_PICTURE_TYPE_NONE;
        ok = avcodec_send_frame(ctx, frame) >= 0;
        if (ok)
            drain();
    }
    if (ok && avcodec_send_frame(ctx, nullptr) >= 0)
        drain();
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    if (!ok || loop->frames.size() != size_t(kLoopFrames) || !loop->frames.front().key) {
        std::fprintf(stderr, "kestrix: encoding the %dx%d test loop failed\n", width, height);
        return nullptr;
    }
    for (const EncodedFrame &f : loop->frames)
        loop->blockBytes += int64_t(kStreamFrameHeaderSize + f.data.size());
    return loop;
}

std::vector<uint8_t> encodeJpeg(int channel, int width, int height)
{
    YuvImage img;
    img.width = width;
    img.height = height;
    drawTestPicture(&img, channel, 0, kLoopFrames);

    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            row[size_t(x) * 3] = img.y[size_t(y * width + x)];
            row[size_t(x) * 3 + 1] = img.u[size_t((y / 2) * (width / 2) + x / 2)];
            row[size_t(x) * 3 + 2] = img.v[size_t((y / 2) * (width / 2) + x / 2)];
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> result(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    free(out);
    return result;
}

using Key = std::tuple<int, int, int>;

struct Cache
{
    std::mutex mutex;
    std::map<Key, std::shared_future<std::shared_ptr<const VideoLoop>>> loops;
    std::map<Key, std::shared_ptr<const std::vector<uint8_t>>> jpegs;
};

Cache &cache()
{
    static Cache *c = new Cache; // used by library threads until the process ends
    return *c;
}

} // namespace

std::shared_ptr<const VideoLoop> videoLoop(int channel, int width, int height)
{
    Cache &c = cache();
    const Key key(channel, width, height);
    std::promise<std::shared_ptr<const VideoLoop>> promise;
    std::shared_future<std::shared_ptr<const VideoLoop>> future;
    bool mine = false;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        auto it = c.loops.find(key);
        if (it != c.loops.end()) {
            future = it->second;
        } else {
            future = promise.get_future().share();
            c.loops.emplace(key, future);
            mine = true;
        }
    }
    // The first user encodes, outside the lock, so that other channels and
    // sizes are made in parallel; later users wait for its result.
    if (mine)
        promise.set_value(encodeLoop(channel, width, height));
    return future.get();
}

std::shared_ptr<const std::vector<uint8_t>> testJpeg(int channel, int width, int height)
{
    Cache &c = cache();
    const Key key(channel, width, height);
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        auto it = c.jpegs.find(key);
        if (it != c.jpegs.end())
            return it->second;
    }
    auto jpeg = std::make_shared<const std::vector<uint8_t>>(encodeJpeg(channel, width, height));
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.jpegs.emplace(key, jpeg).first->second;
}

} // namespace kx
