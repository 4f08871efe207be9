#pragma once

// Size readers of the logo pictures: PNG from its header, JPEG and GIF by
// decoding into a 16-bit picture. Pictures come from users: every reader
// refuses what it cannot hold instead of reading or writing past a buffer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A decoded picture, 16 bits per pixel, rows `stride` bytes apart.
struct DecodedPicture
{
    int width = 0;
    int height = 0;
    int pixelType = 0; // 0 RGB555, 1 RGB565
    int stride = 0;
    int planes = 1;
    std::vector<uint16_t> pixels;
};

namespace ImageLimits {
// Largest side and pixel count a decoder accepts.
constexpr int kMaxSide = 16384;
constexpr int64_t kMaxPixels = int64_t(64) * 1024 * 1024;
// Largest picture file read whole.
constexpr int64_t kMaxFileBytes = int64_t(32) * 1024 * 1024;
} // namespace ImageLimits

// R, G and B clamped to 0..255 and packed: type 0 RGB555, type 1 RGB565,
// any other 0xFF00.
uint16_t convertRgbTo16(int r, int g, int b, int pixelType);

// 0 with the size from the header; -1 with 0 x 0 when the file cannot be
// opened or holds no PNG header with a valid size.
int GetPNGWidthHeight(const char *path, int *width, int *height);

// The decoded JPEG (width rounded down to even), or null when the file cannot
// be opened or read as a JPEG, or declares a size beyond the limits.
std::unique_ptr<DecodedPicture> GetJPGWidthHeight(const char *path, int pixelType);

// Prints the JPEG's header facts ("image_width = %d", "image_height = %d",
// "num_components = %d", a line each) and gives its size: 0, or -1 (size
// 0 x 0) when the file cannot be opened or read as a JPEG.
int printJpegInfo(const char *path, int *width, int *height);

// The picture of a BMP file ("BM") of 8 bits per pixel (through its colour
// table, as RGB555) or 16 bits per pixel (RGB555, or RGB565 when its colour
// masks say so, pixels as they are), rows from the top; null for any other
// file or one that does not hold what its header says.
std::unique_ptr<DecodedPicture> readBmpFile(const char *path);

// The decoded GIF of a file, or null.
std::unique_ptr<DecodedPicture> GetGIFWidthHeight(const char *path);

// Decodes GIF bytes; the picture has the size of the logical screen. Null for
// a wrong signature, a screen beyond the limits, a frame without a colour
// table, or an LZW error; data that ends early gives the picture made so far.
std::unique_ptr<DecodedPicture> parseGifFile(const uint8_t *data, size_t length);
