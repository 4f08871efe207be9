#include "VoiceFrame.h"

#include "G711.h"

#include <algorithm>
#include <cstring>

void WriteVoiceFrameHead(unsigned char *out, int sampleRate, int length)
{
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = 0xFA;
    out[4] = 0x0E;
    out[5] = sampleRate == 16000 ? 0x04 : 0x02;
    out[6] = static_cast<unsigned char>(length & 0xFF);
    out[7] = static_cast<unsigned char>((length >> 8) & 0xFF);
}

bool EncodeALawPieces(const char *pcm, unsigned int lengthBytes, int maxCodes, unsigned char *codes,
    const std::function<bool(const unsigned char *codes, int count)> &piece)
{
    if (!pcm || !codes || maxCodes <= 0)
        return false;
    const unsigned int samples = lengthBytes / 2;
    // Samples go through a local copy: the library's block need not be aligned for shorts.
    short chunk[512];
    unsigned int done = 0;
    while (done < samples) {
        const int want = int(std::min<unsigned int>(samples - done, unsigned(maxCodes)));
        std::memset(codes, 0, size_t(want));
        int written = 0;
        while (written < want) {
            const int n = std::min(want - written, int(sizeof chunk / sizeof chunk[0]));
            std::memcpy(chunk, pcm + size_t(done + unsigned(written)) * 2, size_t(n) * 2);
            int count = 0;
            if (G711EncodeALaw(chunk, codes + written, n * 2, &count) != 1 || count != n)
                return false;
            written += n;
        }
        if (!piece(codes, want))
            return false;
        done += unsigned(want);
    }
    return true;
}
