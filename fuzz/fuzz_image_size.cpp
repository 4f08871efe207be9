// The logo size readers on arbitrary bytes: the first byte picks the reader
// (PNG, JPEG or GIF), the rest is the file. A picture that comes back must
// have a size within the limits and a buffer that holds it.
#include "ImageSize.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string &scratchFile()
{
    static const std::string path = [] {
        std::string pattern = "/tmp/fuzz_image_size.XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            std::abort();
        ::close(fd);
        std::atexit([] { ::unlink(scratchFile().c_str()); });
        return pattern;
    }();
    return path;
}

void checkPicture(const DecodedPicture *picture)
{
    if (!picture)
        return;
    if (picture->width < 0 || picture->height < 0 || picture->width > ImageLimits::kMaxSide
        || picture->height > ImageLimits::kMaxSide
        || picture->pixels.size() < size_t(picture->stride / 2) * size_t(picture->height))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int reader = data[0] % 3;
    if (reader == 2) {
        checkPicture(parseGifFile(data + 1, size - 1).get());
        return 0;
    }
    FILE *file = std::fopen(scratchFile().c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    if (reader == 0) {
        int width = -1, height = -1;
        const int r = GetPNGWidthHeight(scratchFile().c_str(), &width, &height);
        if ((r == 0) != (width > 0 && height > 0) || (r != 0 && (width != 0 || height != 0)))
            std::abort();
    } else {
        checkPicture(GetJPGWidthHeight(scratchFile().c_str(), 0).get());
    }
    return 0;
}
