#include "TestPicture.h"

#include <algorithm>

namespace kx {

namespace {

void fillRect(YuvImage *img, int x0, int y0, int w, int h, uint8_t y, uint8_t u, uint8_t v)
{
    const int x1 = std::min(img->width, x0 + w);
    const int y1 = std::min(img->height, y0 + h);
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    for (int yy = y0; yy < y1; ++yy)
        std::fill(img->y.begin() + yy * img->width + x0, img->y.begin() + yy * img->width + x1, y);
    const int cw = img->width / 2;
    for (int yy = y0 / 2; yy < (y1 + 1) / 2 && yy < img->height / 2; ++yy) {
        for (int xx = x0 / 2; xx < (x1 + 1) / 2 && xx < cw; ++xx) {
            img->u[size_t(yy * cw + xx)] = u;
            img->v[size_t(yy * cw + xx)] = v;
        }
    }
}

// Segments a..g of the digits 0-9, bit 0 = a (top) ... bit 6 = g (middle).
const uint8_t kSegments[10] = { 0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F };

void drawDigit(YuvImage *img, int x, int y, int h, int digit)
{
    const int w = h / 2;
    const int t = std::max(2, h / 8);
    const int half = h / 2;
    const uint8_t s = kSegments[digit % 10];
    const uint8_t Y = 235, C = 128;
    if (s & 0x01)
        fillRect(img, x, y, w, t, Y, C, C); // a
    if (s & 0x02)
        fillRect(img, x + w - t, y, t, half, Y, C, C); // b
    if (s & 0x04)
        fillRect(img, x + w - t, y + half, t, h - half, Y, C, C); // c
    if (s & 0x08)
        fillRect(img, x, y + h - t, w, t, Y, C, C); // d
    if (s & 0x10)
        fillRect(img, x, y + half, t, h - half, Y, C, C); // e
    if (s & 0x20)
        fillRect(img, x, y, t, half, Y, C, C); // f
    if (s & 0x40)
        fillRect(img, x, y + half - t / 2, w, t, Y, C, C); // g
}

} // namespace

void drawTestPicture(YuvImage *img, int channel, int index, int frames)
{
    const int w = img->width, h = img->height;
    img->y.assign(size_t(w * h), 0);
    img->u.assign(size_t((w / 2) * (h / 2)), 128);
    img->v.assign(size_t((w / 2) * (h / 2)), 128);

    // Background: a vertical luminance gradient in a colour of the channel.
    static const uint8_t kHues[8][2] = { { 90, 200 }, { 200, 90 }, { 60, 110 }, { 180, 180 }, { 110, 60 },
        { 150, 70 }, { 70, 150 }, { 128, 200 } };
    const uint8_t cu = kHues[channel % 8][0], cv = kHues[channel % 8][1];
    for (int yy = 0; yy < h; ++yy)
        std::fill(
            img->y.begin() + yy * w, img->y.begin() + (yy + 1) * w, uint8_t(60 + 80 * yy / std::max(1, h)));
    std::fill(img->u.begin(), img->u.end(), cu);
    std::fill(img->v.begin(), img->v.end(), cv);

    // A box sweeping from left to right once per loop.
    const int box = std::max(8, h / 6);
    const int travel = std::max(1, w - box);
    const int bx = frames > 1 ? travel * index / (frames - 1) : 0;
    fillRect(img, bx, h - box - h / 10, box, box, 200, 60, 160);

    // Channel number, top left.
    const int dh = std::max(16, h / 5);
    const int margin = std::max(4, h / 30);
    fillRect(img, margin / 2, margin / 2, dh + 2 * margin, dh + margin, 16, 128, 128);
    drawDigit(img, margin, margin, dh, ((channel + 1) / 10) % 10);
    drawDigit(img, margin + dh / 2 + margin / 2, margin, dh, (channel + 1) % 10);

    // Loop time "s.hh", top right.
    const int centis = index * 4; // 40 ms per picture
    const int th = std::max(12, h / 8);
    const int tw = th / 2 + th / 6;
    const int tx = w - margin - 4 * tw;
    fillRect(img, tx - margin / 2, margin / 2, 4 * tw + margin / 2, th + margin, 16, 128, 128);
    drawDigit(img, tx, margin, th, (centis / 100) % 10);
    fillRect(img, tx + tw, margin + th - std::max(2, th / 8), std::max(2, th / 8), std::max(2, th / 8), 235,
        128, 128);
    drawDigit(img, tx + 2 * tw - tw / 2, margin, th, (centis / 10) % 10);
    drawDigit(img, tx + 3 * tw - tw / 2, margin, th, centis % 10);
}

} // namespace kx
