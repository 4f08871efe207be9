// Stand-in for the partition image tools until the real header strip,
// detector and cramfs reader are part of the build: the strip copies, the
// detector knows the two magic numbers, cramfs images are not extracted.

#include "PartitionImage.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int stripImageHeader(const char *source, const char *target)
{
    struct stat st;
    if (!source || !target || ::stat(source, &st) != 0)
        return -1;
    if (st.st_size < 64)
        return -4;
    FILE *in = std::fopen(source, "rb");
    if (!in)
        return -2;
    FILE *out = std::fopen(target, "wb");
    if (!out) {
        std::fclose(in);
        return -3;
    }
    std::fseek(in, 64, SEEK_SET);
    char buffer[65536];
    long long left = st.st_size - 64;
    int r = 0;
    while (left > 0) {
        const size_t n = std::fread(buffer, 1, sizeof(buffer), in);
        if (n == 0) {
            r = -4;
            break;
        }
        if (std::fwrite(buffer, 1, n, out) != n) {
            r = -5;
            break;
        }
        left -= (long long)n;
    }
    std::fclose(in);
    if (std::fclose(out) != 0 && r == 0)
        r = -5;
    return r;
}

int detectImageFsType(int mode, const char *path, const void *, int)
{
    if (mode != 3 || !path || !*path)
        return 0;
    FILE *in = std::fopen(path, "rb");
    if (!in)
        return 0;
    unsigned char magic[4] = {};
    const size_t n = std::fread(magic, 1, 4, in);
    std::fclose(in);
    if (n == 4 && std::memcmp(magic, "hsqs", 4) == 0)
        return 2;
    if (n == 4 && magic[0] == 0x45 && magic[1] == 0x3d && magic[2] == 0xcd && magic[3] == 0x28)
        return 1;
    return 0;
}

int cramfsExtractImage(const char *, const char *)
{
    return -2;
}
