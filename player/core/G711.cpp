#include "G711.h"

#include <cstdint>
#include <cstring>

namespace {

// A-law code of a positive sample by the magnitude shifted right by 4
// (0..2047): segment 0 holds 0..15, segment k >= 1 holds [16 << (k - 1), 16 << k).
struct ALawTable
{
    unsigned char code[2048];
    ALawTable()
    {
        for (int m = 0; m < 2048; ++m) {
            int segment = 0;
            while (segment < 7 && m >= (16 << segment))
                ++segment;
            const int mantissa = segment == 0 ? m : (m >> (segment - 1)) & 0x0F;
            code[m] = static_cast<unsigned char>((((segment << 4) | mantissa) ^ 0x55) | 0x80);
        }
    }
};

// mu-law code of a positive sample by (magnitude - 4) >> 3 (0..4095), from
// the biased magnitude (+132, clipped at 32635).
struct ULawTable
{
    unsigned char code[4096];
    ULawTable()
    {
        for (int i = 0; i < 4096; ++i) {
            int magnitude = (i << 3) + 4;
            if (magnitude > 32635)
                magnitude = 32635;
            const int biased = magnitude + 132;
            int segment = 0;
            while (segment < 7 && (biased >> (segment + 8)) != 0)
                ++segment;
            const int mantissa = (biased >> (segment + 3)) & 0x0F;
            code[i] = static_cast<unsigned char>(~((segment << 4) | mantissa) & 0xFF);
        }
    }
};

const ALawTable &alaw()
{
    static const ALawTable table;
    return table;
}

const ULawTable &ulaw()
{
    static const ULawTable table;
    return table;
}

// -32768 is taken as -32767: its magnitude is clamped to the largest positive value.
int magnitudeOf(short s)
{
    const int v = s;
    return v < 0 ? (v == -32768 ? 32767 : -v) : v;
}

short sampleAt(const short *pcm, int i)
{
    // Little-endian bytes, whatever the host order.
    const auto *b = reinterpret_cast<const unsigned char *>(pcm) + 2 * i;
    return static_cast<short>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
}

template<unsigned char (*Encode)(short)>
int encodeBlock(const short *pcm, unsigned char *out, int lengthBytes, int *codeCount)
{
    if (codeCount)
        *codeCount = 0;
    if (lengthBytes < 0 || (lengthBytes > 1 && (!pcm || !out)))
        return 0;
    const int n = lengthBytes / 2;
    for (int i = 0; i < n; ++i)
        out[i] = Encode(sampleAt(pcm, i));
    if (codeCount)
        *codeCount = n;
    return 1;
}

} // namespace

unsigned char G711ALawFromSample(short sample)
{
    const unsigned char code = alaw().code[magnitudeOf(sample) >> 4];
    return sample < 0 ? code & 0x7F : code;
}

unsigned char G711ULawFromSample(short sample)
{
    const int magnitude = magnitudeOf(sample);
    const unsigned char code = magnitude <= 3 ? 0xFF : ulaw().code[(magnitude - 4) >> 3];
    return sample < 0 ? code & 0x7F : code;
}

int G711EncodeALaw(const short *pcm, unsigned char *out, int lengthBytes, int *codeCount)
{
    return encodeBlock<G711ALawFromSample>(pcm, out, lengthBytes, codeCount);
}

int G711EncodeULaw(const short *pcm, unsigned char *out, int lengthBytes, int *codeCount)
{
    return encodeBlock<G711ULawFromSample>(pcm, out, lengthBytes, codeCount);
}
