#pragma once

// Voice frames as devices take them: an 8-byte head (00 00 01 FA 0E, then 02
// at 8000 Hz or 04 at 16000 Hz, then the number of A-law bytes as a 16-bit
// little-endian number) followed by the A-law bytes, one per sample. Shared by
// the live talk and the custom alarm voice.

#include <functional>

constexpr int kVoiceFrameHeadSize = 8;

// Writes the head of a frame that carries `length` A-law bytes.
void WriteVoiceFrameHead(unsigned char *out, int sampleRate, int length);

// Encodes a block of 16-bit PCM (`lengthBytes` bytes) to A-law in pieces of at
// most `maxCodes` codes: each piece is written to `codes` and handed to
// `piece` with its count. A block larger than one piece is split rather than
// written past the buffer. Stops at the first piece that `piece` refuses.
// Returns false when the encoder fails or a piece was refused.
bool EncodeALawPieces(const char *pcm, unsigned int lengthBytes, int maxCodes, unsigned char *codes,
    const std::function<bool(const unsigned char *codes, int count)> &piece);
