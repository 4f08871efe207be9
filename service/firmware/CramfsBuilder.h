#pragma once

// Builds a cramfs image (the format the reader extracts) from a folder tree:
// folders and regular files, sorted by name, each 4096-byte block compressed
// with zlib on its own. Blocks are compressed on all cores; the image is the
// same byte for byte however many threads ran.

#include <cstdio>

struct CramfsBuildOptions
{
    std::FILE *listing = stdout; // where the folder and file lines go; nullptr for none
    unsigned threads = 0; // 0: one per core
};

// 0 when the image was written, -1 when it could not be created or the walk failed.
int cramfsBuildImage(const char *sourceFolder, const char *imagePath);
int cramfsBuildImage(const char *sourceFolder, const char *imagePath, const CramfsBuildOptions &options);
