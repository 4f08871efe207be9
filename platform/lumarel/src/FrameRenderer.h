#pragma once

// Turns a decoded picture into the image a window shows: the display region
// cut out, the colour adjustments applied and the result scaled with
// swscale to the window's size.

#include "lumarel/lumarel.h"

#include <QImage>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

struct ColourSettings
{
    int brightness = TRV_PLAY_COLOR_DEFAULT;
    int contrast = TRV_PLAY_COLOR_DEFAULT;
    int saturation = TRV_PLAY_COLOR_DEFAULT;
    int hue = TRV_PLAY_COLOR_DEFAULT;

    bool isDefault() const
    {
        return brightness == TRV_PLAY_COLOR_DEFAULT && contrast == TRV_PLAY_COLOR_DEFAULT
            && saturation == TRV_PLAY_COLOR_DEFAULT && hue == TRV_PLAY_COLOR_DEFAULT;
    }
};

struct RenderSettings
{
    bool regionEnabled = false;
    TRV_PLAY_RECT region { 0, 0, TRV_PLAY_REGION_SPACE, TRV_PLAY_REGION_SPACE };
    ColourSettings colour;
    bool original = false; // picture pixels 1:1 instead of filling the window
    int targetWidth = 0;
    int targetHeight = 0;
};

// The layout of the images a renderer scales into: RGB32 rows of whole
// 8-pixel blocks (`stride` bytes), an even number of rows and some slack
// after them, `bytes` in all, a multiple of 64.
struct ImageLayout
{
    size_t stride = 0;
    size_t bytes = 0;
};
ImageLayout imageLayout(int width, int height);

// Makes `count` images of width x height in the layout above; fewer or none
// when it cannot.
using ImageSetMaker = std::vector<QImage> (*)(int width, int height, int count);

class FrameRenderer
{
public:
    FrameRenderer() = default;
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer &) = delete;
    FrameRenderer &operator=(const FrameRenderer &) = delete;

    // A null image when there is nothing to draw into.
    QImage render(const AVFrame *frame, const RenderSettings &settings);
    // Where the images to scale into come from from now on (null: plain memory).
    void setImageSetMaker(ImageSetMaker maker);

private:
    static constexpr size_t kPoolImages = 8;
    // A picture to scale into: one of the pool's that nobody else holds any
    // more (the window keeps the latest one and paints from it), else a new one.
    QImage targetImage(int width, int height);

    // Scales a 4:2:0 picture into m_middle, in the same format.
    bool scaleToMiddle(const uint8_t *const srcData[4], const int srcStride[4], int srcWidth, int srcHeight,
        AVPixelFormat format, int width, int height);

    SwsContext *m_sws = nullptr; // straight into RGB
    SwsContext *m_scale = nullptr; // 4:2:0 to 4:2:0 at the window's size
    SwsContext *m_convert = nullptr; // that to RGB, unscaled
    std::vector<uint8_t> m_middle;
    int m_middleStride[4] = {};
    size_t m_middleOffset[3] = {};
    // The window's picture, one being painted, and those a window queues
    // for their time (a burst); all of one size, from one maker.
    QImage m_pool[kPoolImages];
    int m_poolWidth = 0;
    int m_poolHeight = 0;
    ImageSetMaker m_maker = nullptr;
    ImageSetMaker m_poolMaker = nullptr;
};

// The part of a w x h picture that a region in 0-8192 coordinates covers,
// on even pixel boundaries so that 4:2:0 chroma stays aligned.
struct CropRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
CropRect cropForRegion(int width, int height, bool enabled, const TRV_PLAY_RECT &region);

// Whether a width x height picture (its display region, when one is set)
// fills a window at most half its size across and down. Such pictures are
// decoded without the deblocking filter and scaled from every other row:
// neither can be seen at that size.
bool shownAtMostHalf(int width, int height, const RenderSettings &settings);
