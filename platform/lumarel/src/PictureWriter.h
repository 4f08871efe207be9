#pragma once

// Snapshot images of a decoded picture, written into the caller's buffer.

#include <cstddef>
#include <cstdint>

struct AVFrame;

// Bytes a 24-bit BMP file of w x h takes (54-byte header, rows padded to 4).
size_t bmpFileSize(int width, int height);
// Bytes of a planar 4:2:0 picture; chroma planes are ((w+1)/2) x ((h+1)/2).
size_t i420Size(int width, int height);

// Fill `out` (at least the sizes above); false when the picture cannot be
// converted or the buffer is too small (`*tooSmall` tells which).
bool writeBmp(const AVFrame *frame, uint8_t *out, size_t size, bool *tooSmall);
bool writeI420(const AVFrame *frame, uint8_t *out, size_t size, bool *tooSmall);
