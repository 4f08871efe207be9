#include "ImageSize.h"

#include <csetjmp>
#include <cstdio>
#include <new>

#include <jpeglib.h>

namespace {

uint32_t bigEndian32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

int clampByte(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

// libjpeg's error exit returns here through longjmp: no exception ever
// crosses the library's C frames.
struct JpegError
{
    jpeg_error_mgr manager;
    jmp_buf escape;
};

void jpegErrorExit(j_common_ptr info)
{
    char message[JMSG_LENGTH_MAX];
    info->err->format_message(info, message);
    std::fprintf(stderr, "jpeg error: %s\n", message);
    std::longjmp(reinterpret_cast<JpegError *>(info->err)->escape, 1);
}

bool sizeWithinLimits(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= ImageLimits::kMaxSide && height <= ImageLimits::kMaxSide
        && width * height <= ImageLimits::kMaxPixels;
}

// Decodes into `out`, which the caller owns; only plain values live in this
// frame, so a jump back from the library leaves nothing behind but the
// decompressor, which is destroyed here.
bool decodeJpeg(FILE *file, int pixelType, DecodedPicture *out)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    if (setjmp(error.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    // Always RGB: a grayscale picture would otherwise give one byte a pixel
    // into a row read as three; CMYK has no conversion and fails here.
    info.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&info);
    if (!sizeWithinLimits(info.output_width, info.output_height) || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const int fullWidth = int(info.output_width);
    out->width = fullWidth & ~1;
    out->height = int(info.output_height);
    out->pixelType = pixelType;
    out->stride = out->width * 2;
    try {
        out->pixels.assign(size_t(out->height + 1) * size_t(fullWidth), 0);
    } catch (const std::bad_alloc &) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    JSAMPARRAY row = (*info.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, JDIMENSION(fullWidth * 3), 1);
    while (info.output_scanline < info.output_height) {
        const size_t y = info.output_scanline;
        if (jpeg_read_scanlines(&info, row, 1) != 1)
            break;
        uint16_t *target = out->pixels.data() + y * size_t(out->width);
        for (int x = 0; x < fullWidth; ++x)
            target[x] = convertRgbTo16(row[0][3 * x], row[0][3 * x + 1], row[0][3 * x + 2], pixelType);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

uint16_t convertRgbTo16(int r, int g, int b, int pixelType)
{
    r = clampByte(r);
    g = clampByte(g);
    b = clampByte(b);
    if (pixelType == 0)
        return uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    if (pixelType == 1)
        return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
    return 0xFF00;
}

int GetPNGWidthHeight(const char *path, int *width, int *height)
{
    *width = 0;
    *height = 0;
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::printf("[GetPNGWidthHeight]:can't open file:%s\n", path);
        return -1;
    }
    // Signature (8 bytes), the IHDR chunk's length and type, width and height.
    unsigned char head[24];
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const bool header = got == sizeof head && bigEndian32(head) == 0x89504E47u
        && bigEndian32(head + 4) == 0x0D0A1A0Au && bigEndian32(head + 12) == 0x49484452u; // "IHDR"
    const uint32_t w = header ? bigEndian32(head + 16) : 0;
    const uint32_t h = header ? bigEndian32(head + 20) : 0;
    if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) {
        std::printf("[GetPNGWidthHeight]:png format error\n");
        return -1;
    }
    *width = int(w);
    *height = int(h);
    return 0;
}

std::unique_ptr<DecodedPicture> GetJPGWidthHeight(const char *path, int pixelType)
{
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "open %s failed\n", path);
        return nullptr;
    }
    std::unique_ptr<DecodedPicture> picture(new (std::nothrow) DecodedPicture);
    const bool ok = picture && decodeJpeg(file, pixelType, picture.get());
    std::fclose(file);
    return ok ? std::move(picture) : nullptr;
}

std::unique_ptr<DecodedPicture> GetGIFWidthHeight(const char *path)
{
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "open %s failed\n", path);
        return nullptr;
    }
    std::vector<uint8_t> bytes;
    bool ok = true;
    try {
        uint8_t block[65536];
        size_t n;
        while (ok && (n = std::fread(block, 1, sizeof block, file)) > 0) {
            bytes.insert(bytes.end(), block, block + n);
            ok = int64_t(bytes.size()) <= ImageLimits::kMaxFileBytes;
        }
        ok = ok && !std::ferror(file);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    std::fclose(file);
    return ok ? parseGifFile(bytes.data(), bytes.size()) : nullptr;
}
