#pragma once

#include <cstdint>

// One file of a playback list, filled from the page's "FileInfo" elements.
// Times are texts "yyyy-MM-dd hh:mm:ss".
struct PlaybackFileInfo
{
    int32_t channel = 0;
    int32_t stream = 0;
    char beginTime[32] = {};
    char endTime[32] = {};
    char text1[32] = {}; // passed through to the by-time request
    char text2[32] = {};
    int32_t fileSize = 0;
    char fileName[108] = {};
    int32_t window = 0;
    int32_t fileType = 0;
};

// One file of a download list.
struct DownloadFileInfo
{
    int32_t channel = 0;
    int32_t fileSize = 0;
    char fileName[108] = {};
    char beginTime[32] = {};
    char endTime[32] = {};
    int32_t stream = 0;
};
