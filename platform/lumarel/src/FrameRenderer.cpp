#include "FrameRenderer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

bool isPlanar420(int format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// swscale's vectorised conversion of 4:2:0 pictures to RGB without scaling
// works on blocks of 8 pixels and pairs of rows, and writes whole blocks:
// past the end of a row whose width is not a multiple of 8. Rows and planes
// it reads or writes get that much room.
constexpr int kBlockPixels = 8;
constexpr size_t kSlackBytes = 64;

int paddedRowPixels(int width)
{
    return (width + kBlockPixels - 1) / kBlockPixels * kBlockPixels;
}

int evenRows(int height)
{
    return (height + 1) / 2 * 2;
}

void freeImageBuffer(void *buffer)
{
    std::free(buffer);
}

// An image of its own, in plain memory.
QImage paddedImage(int width, int height)
{
    const ImageLayout layout = imageLayout(width, height);
    void *buffer = std::aligned_alloc(64, layout.bytes);
    if (!buffer)
        return QImage();
    QImage image(static_cast<uchar *>(buffer), width, height, qsizetype(layout.stride), QImage::Format_RGB32,
        freeImageBuffer, buffer);
    if (image.isNull())
        std::free(buffer);
    return image;
}

// Brightness, contrast, saturation and hue on a 4:2:0 picture, written into
// `planes` (Y, U, V, each tightly packed).
void adjustColour(
    const AVFrame *src, const CropRect &c, const ColourSettings &s, std::vector<uint8_t> planes[3])
{
    const double contrast = s.contrast / double(TRV_PLAY_COLOR_DEFAULT);
    const double brightness = (s.brightness - TRV_PLAY_COLOR_DEFAULT) * 2.0;
    const double saturation = s.saturation / double(TRV_PLAY_COLOR_DEFAULT);
    const double angle = (s.hue - TRV_PLAY_COLOR_DEFAULT) / double(TRV_PLAY_COLOR_DEFAULT) * M_PI;
    const double cosA = std::cos(angle) * saturation;
    const double sinA = std::sin(angle) * saturation;

    uint8_t lumaTable[256];
    for (int v = 0; v < 256; ++v)
        lumaTable[v] = uint8_t(std::clamp(int(std::lround((v - 16) * contrast + 16 + brightness)), 0, 255));

    // The slack lets swscale read whole blocks past the last row.
    planes[0].resize(size_t(c.width) * size_t(c.height) + kSlackBytes);
    for (int y = 0; y < c.height; ++y) {
        const uint8_t *in = src->data[0] + size_t(c.y + y) * size_t(src->linesize[0]) + size_t(c.x);
        uint8_t *out = planes[0].data() + size_t(y) * size_t(c.width);
        for (int x = 0; x < c.width; ++x)
            out[x] = lumaTable[in[x]];
    }
    const int cw = (c.width + 1) / 2;
    const int ch = (c.height + 1) / 2;
    planes[1].resize(size_t(cw) * size_t(ch) + kSlackBytes);
    planes[2].resize(size_t(cw) * size_t(ch) + kSlackBytes);
    for (int y = 0; y < ch; ++y) {
        const uint8_t *u = src->data[1] + size_t(c.y / 2 + y) * size_t(src->linesize[1]) + size_t(c.x / 2);
        const uint8_t *v = src->data[2] + size_t(c.y / 2 + y) * size_t(src->linesize[2]) + size_t(c.x / 2);
        uint8_t *uo = planes[1].data() + size_t(y) * size_t(cw);
        uint8_t *vo = planes[2].data() + size_t(y) * size_t(cw);
        for (int x = 0; x < cw; ++x) {
            const double du = u[x] - 128.0;
            const double dv = v[x] - 128.0;
            uo[x] = uint8_t(std::clamp(int(std::lround(128 + du * cosA - dv * sinA)), 0, 255));
            vo[x] = uint8_t(std::clamp(int(std::lround(128 + du * sinA + dv * cosA)), 0, 255));
        }
    }
}

// Every other row of the source is enough for a picture at most half as high.
bool halvesRows(int sourceRows, int shownRows)
{
    return shownRows * 2 <= sourceRows;
}

} // namespace

ImageLayout imageLayout(int width, int height)
{
    ImageLayout layout;
    layout.stride = size_t(paddedRowPixels(width)) * 4;
    layout.bytes = (layout.stride * size_t(evenRows(height)) + kSlackBytes + 63) / 64 * 64;
    return layout;
}

bool shownAtMostHalf(int width, int height, const RenderSettings &s)
{
    if (s.original || width <= 0 || height <= 0 || s.targetWidth <= 0 || s.targetHeight <= 0)
        return false;
    const CropRect c = cropForRegion(width, height, s.regionEnabled, s.region);
    return s.targetWidth * 2 <= c.width && halvesRows(c.height, s.targetHeight);
}

CropRect cropForRegion(int width, int height, bool enabled, const TRV_PLAY_RECT &region)
{
    CropRect c { 0, 0, width, height };
    if (!enabled || width <= 0 || height <= 0)
        return c;
    const int64_t space = TRV_PLAY_REGION_SPACE;
    int x0 = int(std::clamp<int64_t>(region.left, 0, space) * width / space) & ~1;
    int y0 = int(std::clamp<int64_t>(region.top, 0, space) * height / space) & ~1;
    int x1 = int(std::clamp<int64_t>(region.right, 0, space) * width / space);
    int y1 = int(std::clamp<int64_t>(region.bottom, 0, space) * height / space);
    x1 = std::max(x1, std::min(x0 + 2, width));
    y1 = std::max(y1, std::min(y0 + 2, height));
    c.x = std::min(x0, std::max(0, width - 2));
    c.y = std::min(y0, std::max(0, height - 2));
    c.width = std::max(1, x1 - c.x);
    c.height = std::max(1, y1 - c.y);
    return c;
}

FrameRenderer::~FrameRenderer()
{
    sws_freeContext(m_sws);
    sws_freeContext(m_scale);
    sws_freeContext(m_convert);
}

void FrameRenderer::setImageSetMaker(ImageSetMaker maker)
{
    m_maker = maker;
}

QImage FrameRenderer::targetImage(int width, int height)
{
    if (width != m_poolWidth || height != m_poolHeight || m_maker != m_poolMaker) {
        // A new size, or the images are to come from elsewhere: a new set.
        // Images of the old one still held stay valid until let go of.
        std::vector<QImage> set = m_maker ? m_maker(width, height, kPoolImages) : std::vector<QImage>();
        for (size_t i = 0; i < kPoolImages; ++i)
            m_pool[i] = i < set.size() ? set[i] : QImage();
        m_poolWidth = width;
        m_poolHeight = height;
        m_poolMaker = m_maker;
    }
    for (QImage &pooled : m_pool) {
        if (pooled.isNull())
            pooled = paddedImage(width, height);
        // Held by the pool alone: reuse it (bits() then does not copy).
        if (!pooled.isNull() && pooled.isDetached())
            return pooled;
    }
    // All held by the window (pictures waiting for their time): one of its own.
    return paddedImage(width, height);
}

QImage FrameRenderer::render(const AVFrame *frame, const RenderSettings &s)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return QImage();
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!desc)
        return QImage();

    // Cropping by moving plane pointers needs planes whose chroma is
    // subsampled by at most 2; other layouts show the whole picture.
    const bool planar = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && desc->log2_chroma_w <= 1
        && desc->log2_chroma_h <= 1 && !(desc->flags & AV_PIX_FMT_FLAG_HWACCEL);
    CropRect c = planar ? cropForRegion(frame->width, frame->height, s.regionEnabled, s.region)
                        : CropRect { 0, 0, frame->width, frame->height };

    int outW = s.original ? c.width : s.targetWidth;
    int outH = s.original ? c.height : s.targetHeight;
    if (outW <= 0 || outH <= 0)
        return QImage();
    outW = std::min(outW, 8192);
    outH = std::min(outH, 8192);

    const uint8_t *srcData[4] = {};
    int srcStride[4] = {};
    AVPixelFormat srcFormat = AVPixelFormat(frame->format);
    std::vector<uint8_t> adjusted[3];
    if (isPlanar420(frame->format) && !s.colour.isDefault()) {
        adjustColour(frame, c, s.colour, adjusted);
        for (int i = 0; i < 3; ++i)
            srcData[i] = adjusted[i].data();
        srcStride[0] = c.width;
        srcStride[1] = srcStride[2] = (c.width + 1) / 2;
    } else {
        for (int i = 0; i < 4 && frame->data[i]; ++i) {
            const bool chroma = i == 1 || i == 2;
            const int xs = chroma ? c.x >> desc->log2_chroma_w : c.x;
            const int ys = chroma ? c.y >> desc->log2_chroma_h : c.y;
            const int bytesPerPixel = planar ? 1 : 0;
            srcData[i]
                = frame->data[i] + size_t(ys) * size_t(frame->linesize[i]) + size_t(xs * bytesPerPixel);
            srcStride[i] = frame->linesize[i];
        }
        // 16-bit planar formats need their byte offsets doubled.
        if (planar && desc->comp[0].depth > 8)
            for (int i = 0; i < 4 && frame->data[i]; ++i) {
                const bool chroma = i == 1 || i == 2;
                const int xs = chroma ? c.x >> desc->log2_chroma_w : c.x;
                srcData[i] += xs;
            }
    }

    QImage image = targetImage(outW, outH);
    if (image.isNull())
        return QImage();
    // Written in place: the pool's copy is the only other holder, and it is
    // not read until the picture has been handed on.
    uint8_t *dst[4] = { const_cast<uint8_t *>(image.constBits()), nullptr, nullptr, nullptr };
    int dstStride[4] = { int(image.bytesPerLine()), 0, 0, 0 };

    if (isPlanar420(srcFormat) && (outW != c.width || outH != c.height)) {
        // Scaled in its own format first, then converted at the window's
        // size: swscale converts unscaled 4:2:0 to RGB with vector code, but
        // writes scaled RGB with plain code, which takes about twice as long.
        // A window at most half the picture's height: every other row is
        // left out before scaling (rows of all three planes alike, so the
        // chroma still pairs with the luma).
        int srcRows = c.height;
        if (halvesRows(c.height, outH)) {
            for (int i = 0; i < 3; ++i)
                srcStride[i] *= 2;
            srcRows = c.height / 2;
        }
        if (!scaleToMiddle(srcData, srcStride, c.width, srcRows, srcFormat, outW, outH))
            return QImage();
        const int rows = evenRows(outH); // even: the vectorised conversion
        m_convert = sws_getCachedContext(m_convert, outW, rows, srcFormat, outW, rows, AV_PIX_FMT_BGRA,
            SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_convert)
            return QImage();
        const uint8_t *middle[4] = { m_middle.data(), m_middle.data() + m_middleOffset[1],
            m_middle.data() + m_middleOffset[2], nullptr };
        if (sws_scale(m_convert, middle, m_middleStride, 0, rows, dst, dstStride) <= 0)
            return QImage();
        return image;
    }

    m_sws = sws_getCachedContext(m_sws, c.width, c.height, srcFormat, outW, outH, AV_PIX_FMT_BGRA,
        SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws)
        return QImage();
    if (sws_scale(m_sws, srcData, srcStride, 0, c.height, dst, dstStride) <= 0)
        return QImage();
    return image;
}

bool FrameRenderer::scaleToMiddle(const uint8_t *const srcData[4], const int srcStride[4], int srcWidth,
    int srcHeight, AVPixelFormat format, int width, int height)
{
    // Planes with whole 64-byte rows, an even number of luma rows and room
    // for whole blocks past the end.
    const int rows = evenRows(height);
    const int chromaWidth = (width + 1) / 2;
    m_middleStride[0] = (width + 63) / 64 * 64;
    m_middleStride[1] = m_middleStride[2] = (chromaWidth + 63) / 64 * 64;
    m_middleStride[3] = 0;
    m_middleOffset[1] = size_t(m_middleStride[0]) * size_t(rows);
    m_middleOffset[2] = m_middleOffset[1] + size_t(m_middleStride[1]) * size_t(rows / 2);
    const size_t bytes = m_middleOffset[2] + size_t(m_middleStride[2]) * size_t(rows / 2) + kSlackBytes;
    if (m_middle.size() < bytes)
        m_middle.resize(bytes);

    m_scale = sws_getCachedContext(m_scale, srcWidth, srcHeight, format, width, height, format,
        SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scale)
        return false;
    uint8_t *out[4] = { m_middle.data(), m_middle.data() + m_middleOffset[1],
        m_middle.data() + m_middleOffset[2], nullptr };
    // With an odd height the conversion's extra row, below the image and
    // never shown, is made from whatever the buffer holds below the picture.
    return sws_scale(m_scale, srcData, srcStride, 0, srcHeight, out, m_middleStride) > 0;
}
