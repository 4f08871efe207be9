#include "YuvJpegWriter.h"

#include <QSaveFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

void silentMessage(j_common_ptr) { }

// Compresses into `*out` (malloc'ed by libjpeg). Kept free of C++ objects
// with destructors, because an error leaves it through longjmp.
bool compress(int width, int height, const unsigned char *yuv, unsigned char *row, unsigned char **out,
    unsigned long *outSize)
{
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = silentMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 99, TRUE);
    jpeg_start_compress(&cinfo, TRUE);

    const size_t w = size_t(width);
    const size_t cw = (w + 1) / 2;
    const size_t ch = (size_t(height) + 1) / 2;
    const unsigned char *yPlane = yuv;
    const unsigned char *uPlane = yuv + w * size_t(height);
    const unsigned char *vPlane = uPlane + cw * ch;
    while (cinfo.next_scanline < cinfo.image_height) {
        const size_t i = cinfo.next_scanline;
        const unsigned char *y = yPlane + i * w;
        const unsigned char *u = uPlane + (i / 2) * cw;
        const unsigned char *v = vPlane + (i / 2) * cw;
        // Pixels in pairs share one chroma sample; an odd last pixel takes
        // the last sample of its row.
        for (size_t x = 0; x < w; ++x) {
            row[x * 3] = y[x];
            row[x * 3 + 1] = u[x / 2];
            row[x * 3 + 2] = v[x / 2];
        }
        JSAMPROW rows[1] = { row };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

bool writeYuvJpeg(const QString &fileName, int width, int height, const unsigned char *yuv)
{
    if (!yuv || width <= 0 || height <= 0 || width > 65500 || height > 65500)
        return false;
    std::vector<unsigned char> row(size_t(width) * 3);
    unsigned char *jpeg = nullptr;
    unsigned long jpegSize = 0;
    const bool ok = compress(width, height, yuv, row.data(), &jpeg, &jpegSize);
    if (!ok || !jpeg || jpegSize == 0) {
        std::free(jpeg);
        return false;
    }
    QSaveFile file(fileName);
    bool written = file.open(QIODevice::WriteOnly)
        && file.write(reinterpret_cast<const char *>(jpeg), qint64(jpegSize)) == qint64(jpegSize);
    std::free(jpeg);
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
