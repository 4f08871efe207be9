#pragma once

// Partition images of a firmware package: the 64-byte header strip, the
// file-system detector and the cramfs reader. 8-bit path texts.

int stripImageHeader(const char *source, const char *target);
int detectImageFsType(int mode, const char *path, const void *nameOrOffset, int match);
int cramfsExtractImage(const char *imagePath, const char *outputFolder);
