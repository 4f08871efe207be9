#pragma once

// The cramfs reader's answers beyond 0 and the codes -1..-8 of the header
// below, and the limits one extraction keeps to.

#include "PartitionImage.h"

#include <atomic>
#include <cstdint>

enum CramfsExtractCode {
    CramfsExtractDone = 0,
    CramfsCannotStat = -1,
    CramfsCannotOpen = -2,
    CramfsTooShort = -3,
    CramfsShortSuperblockRead = -4,
    CramfsBadSuperblock = -5,
    CramfsDataBeforeSuperblockEnd = -6,
    CramfsDirectoryEndMismatch = -7,
    CramfsDataPastSize = -8,
    CramfsBadRootInode = -9,
    CramfsLimitExceeded = -10, // total bytes or entry count; the walk stops at once
    CramfsEntriesRefused = -11, // the walk skipped damaged entries; the rest was written
    CramfsCannotCreateFolder = -12,
    CramfsStopped = -13, // stopped from another thread; the walk stops at once
};

// What one image may make the reader do. The defaults are far above any real
// firmware partition and far below what a hostile image could ask for.
struct CramfsLimits
{
    uint64_t maxTotalBytes = uint64_t(1) << 30; // bytes written over all files
    uint32_t maxEntries = 65536; // directory entries visited
    uint32_t maxDepth = 64; // folder levels below the output folder
    uint32_t maxPathLength = 4095; // bytes of the output folder plus "/name" parts
    const std::atomic<bool> *stop = nullptr; // set from another thread: stop
};

int cramfsExtractImage(const char *imagePath, const char *outputFolder, const CramfsLimits &limits);
