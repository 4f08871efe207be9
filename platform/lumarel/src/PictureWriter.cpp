#include "PictureWriter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void put16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

size_t bmpStride(int width)
{
    return (size_t(width) * 3 + 3) & ~size_t(3);
}

bool convert(const AVFrame *frame, AVPixelFormat format, uint8_t *const dst[4], const int dstStride[4])
{
    SwsContext *sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
        frame->height, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws)
        return false;
    const int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    return rows > 0;
}

} // namespace

size_t bmpFileSize(int width, int height)
{
    return 54 + bmpStride(width) * size_t(height);
}

size_t i420Size(int width, int height)
{
    const size_t cw = (size_t(width) + 1) / 2;
    const size_t ch = (size_t(height) + 1) / 2;
    return size_t(width) * size_t(height) + 2 * cw * ch;
}

bool writeBmp(const AVFrame *frame, uint8_t *out, size_t size, bool *tooSmall)
{
    *tooSmall = false;
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return false;
    const int w = frame->width;
    const int h = frame->height;
    const size_t total = bmpFileSize(w, h);
    if (!out || size < total) {
        *tooSmall = true;
        return false;
    }
    const size_t stride = bmpStride(w);
    // BMP rows run bottom-up: point swscale at the last row with a negative stride.
    uint8_t *pixels = out + 54;
    uint8_t *dst[4] = { pixels + stride * size_t(h - 1), nullptr, nullptr, nullptr };
    const int dstStride[4] = { -int(stride), 0, 0, 0 };
    std::memset(pixels, 0, stride * size_t(h));
    if (!convert(frame, AV_PIX_FMT_BGR24, dst, dstStride))
        return false;

    uint8_t *p = out;
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, uint32_t(total));
    put32(p + 6, 0);
    put32(p + 10, 54);
    put32(p + 14, 40);
    put32(p + 18, uint32_t(w));
    put32(p + 22, uint32_t(h));
    put16(p + 26, 1);
    put16(p + 28, 24);
    put32(p + 30, 0);
    put32(p + 34, uint32_t(stride * size_t(h)));
    put32(p + 38, 2835); // 72 dpi
    put32(p + 42, 2835);
    put32(p + 46, 0);
    put32(p + 50, 0);
    return true;
}

bool writeI420(const AVFrame *frame, uint8_t *out, size_t size, bool *tooSmall)
{
    *tooSmall = false;
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return false;
    const int w = frame->width;
    const int h = frame->height;
    if (!out || size < i420Size(w, h)) {
        *tooSmall = true;
        return false;
    }
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    uint8_t *dst[4] = { out, out + size_t(w) * size_t(h),
        out + size_t(w) * size_t(h) + size_t(cw) * size_t(ch), nullptr };
    const int dstStride[4] = { w, cw, cw, 0 };
    const bool planar420 = frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P;
    if (planar420) {
        for (int y = 0; y < h; ++y)
            std::memcpy(dst[0] + size_t(y) * size_t(w),
                frame->data[0] + size_t(y) * size_t(frame->linesize[0]), size_t(w));
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < ch; ++y)
                std::memcpy(dst[p] + size_t(y) * size_t(cw),
                    frame->data[p] + size_t(y) * size_t(frame->linesize[p]), size_t(cw));
    } else if (!convert(frame, AV_PIX_FMT_YUV420P, dst, dstStride)) {
        return false;
    }
    // Full-range (JFIF) levels, so that a JPEG written from it as YCbCr
    // keeps the picture's colours.
    const bool fullRange = frame->format == AV_PIX_FMT_YUVJ420P || frame->color_range == AVCOL_RANGE_JPEG;
    if (!fullRange) {
        uint8_t luma[256];
        uint8_t chroma[256];
        for (int v = 0; v < 256; ++v) {
            luma[v] = uint8_t(std::clamp((v - 16) * 255 / 219, 0, 255));
            chroma[v] = uint8_t(std::clamp(128 + (v - 128) * 255 / 224, 0, 255));
        }
        uint8_t *p = out;
        for (size_t i = 0, n = size_t(w) * size_t(h); i < n; ++i, ++p)
            *p = luma[*p];
        for (size_t i = 0, n = 2 * size_t(cw) * size_t(ch); i < n; ++i, ++p)
            *p = chroma[*p];
    }
    return true;
}
