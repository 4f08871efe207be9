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

// Sets up a decompressor on `file`, reads the header and hands the
// decompressor to `use`, which may go on decoding; false when the library
// fails on the way or `use` answers false. Only plain values may live in the
// frames of `use`: a jump back from the library leaves nothing behind but the
// decompressor, which is destroyed here.
template<typename Use> bool withJpegHeader(FILE *file, Use use)
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
    const bool ok = use(info);
    jpeg_destroy_decompress(&info);
    return ok;
}

// Decodes into `out`, which the caller owns.
bool decodeJpeg(FILE *file, int pixelType, DecodedPicture *out)
{
    return withJpegHeader(file, [pixelType, out](jpeg_decompress_struct &info) {
        // Always RGB: a grayscale picture would otherwise give one byte a pixel
        // into a row read as three; CMYK has no conversion and fails here.
        info.out_color_space = JCS_RGB;
        jpeg_calc_output_dimensions(&info);
        if (!sizeWithinLimits(info.output_width, info.output_height) || info.output_components != 3)
            return false;
        jpeg_start_decompress(&info);
        const int fullWidth = int(info.output_width);
        out->width = fullWidth & ~1;
        out->height = int(info.output_height);
        out->pixelType = pixelType;
        out->stride = out->width * 2;
        try {
            out->pixels.assign(size_t(out->height + 1) * size_t(fullWidth), 0);
        } catch (const std::bad_alloc &) {
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
        return true;
    });
}

// A whole file of at most ImageLimits::kMaxFileBytes; false otherwise.
bool readWholeFile(const char *path, std::vector<uint8_t> *bytes)
{
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "open %s failed\n", path);
        return false;
    }
    bool ok = true;
    try {
        uint8_t block[65536];
        size_t n;
        while (ok && (n = std::fread(block, 1, sizeof block, file)) > 0) {
            bytes->insert(bytes->end(), block, block + n);
            ok = int64_t(bytes->size()) <= ImageLimits::kMaxFileBytes;
        }
        ok = ok && !std::ferror(file);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    std::fclose(file);
    return ok;
}

uint32_t littleEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t littleEndian16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
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
    std::vector<uint8_t> bytes;
    return readWholeFile(path, &bytes) ? parseGifFile(bytes.data(), bytes.size()) : nullptr;
}

int printJpegInfo(const char *path, int *width, int *height)
{
    *width = 0;
    *height = 0;
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "can't open %s\n", path);
        return -1;
    }
    const bool ok = withJpegHeader(file, [width, height](jpeg_decompress_struct &info) {
        std::printf("image_width = %d\n", int(info.image_width));
        std::printf("image_height = %d\n", int(info.image_height));
        std::printf("num_components = %d\n", info.num_components);
        *width = int(info.image_width);
        *height = int(info.image_height);
        return true;
    });
    std::fclose(file);
    return ok ? 0 : -1;
}

std::unique_ptr<DecodedPicture> readBmpFile(const char *path)
{
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, &bytes) || bytes.size() < 54 || littleEndian16(bytes.data()) != 0x4D42)
        return nullptr;
    const uint8_t *data = bytes.data();
    const uint64_t pixelsAt = littleEndian32(data + 10);
    const uint32_t headerSize = littleEndian32(data + 14);
    const int32_t width = int32_t(littleEndian32(data + 18));
    const int32_t rawHeight = int32_t(littleEndian32(data + 22));
    const int bits = littleEndian16(data + 28);
    const uint32_t compression = littleEndian32(data + 30);
    const uint32_t coloursUsed = littleEndian32(data + 46);
    const int64_t height = rawHeight < 0 ? -int64_t(rawHeight) : rawHeight;
    if (headerSize < 40 || uint64_t(headerSize) + 14 > bytes.size() || !sizeWithinLimits(width, height)
        || (bits != 8 && bits != 16))
        return nullptr;

    auto picture = std::make_unique<DecodedPicture>();
    picture->width = width;
    picture->height = int(height);
    picture->stride = width * 2;
    if (bits == 16) {
        // Without colour masks 16-bit pixels are RGB555; masks may say RGB565.
        if (compression == 3) {
            if (bytes.size() < 14 + 40 + 12)
                return nullptr;
            const uint32_t red = littleEndian32(data + 54);
            const uint32_t green = littleEndian32(data + 58);
            const uint32_t blue = littleEndian32(data + 62);
            if (red == 0xF800 && green == 0x07E0 && blue == 0x001F)
                picture->pixelType = 1;
            else if (red != 0x7C00 || green != 0x03E0 || blue != 0x001F)
                return nullptr;
        } else if (compression != 0) {
            return nullptr;
        }
    } else if (compression != 0) {
        return nullptr;
    }
    const uint64_t colours = bits == 8 ? (coloursUsed == 0 ? 256 : coloursUsed) : 0;
    const uint64_t tableAt = 14 + uint64_t(headerSize);
    const uint64_t rowBytes = (uint64_t(width) * uint64_t(bits) + 31) / 32 * 4;
    if (colours > 256 || tableAt + colours * 4 > bytes.size() || pixelsAt > bytes.size()
        || rowBytes * uint64_t(height) > bytes.size() - pixelsAt)
        return nullptr;

    picture->pixels.assign(size_t(width) * size_t(height), 0);
    for (int64_t y = 0; y < height; ++y) {
        // Rows are stored from the bottom unless the height is negative.
        const int64_t stored = rawHeight < 0 ? y : height - 1 - y;
        const uint8_t *row = data + pixelsAt + uint64_t(stored) * rowBytes;
        uint16_t *target = picture->pixels.data() + y * width;
        for (int32_t x = 0; x < width; ++x) {
            if (bits == 16) {
                target[x] = littleEndian16(row + 2 * x);
                continue;
            }
            if (row[x] >= colours)
                return nullptr;
            const uint8_t *bgr = data + tableAt + 4 * uint64_t(row[x]);
            target[x] = convertRgbTo16(bgr[2], bgr[1], bgr[0], 0);
        }
    }
    return picture;
}
