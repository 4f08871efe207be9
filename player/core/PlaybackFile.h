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
    uint32_t fileSize = 0; // "0x%08X" texts: files of 2 GiB and more stay positive
    char fileName[108] = {};
    int32_t window = 0;
    int32_t fileType = 0;
};

// One file of a download list.
struct DownloadFileInfo
{
    int32_t channel = 0;
    uint32_t fileSize = 0; // "0x%08X" texts: files of 2 GiB and more stay positive
    char fileName[108] = {};
    char beginTime[32] = {};
    char endTime[32] = {};
    int32_t stream = 0;
};

// The user value of the device library's position callback, which playbacks
// and downloads share: every record given to it starts with this tag.
struct PositionUser
{
    enum Kind : int32_t { Playback = 0, RecordDownload = 1, PictureDownload = 2 };
    int32_t kind = Playback;
    int32_t window = -1; // playback window 0..3; -1 for downloads
};

// A playback window's record: the user value of its data and position callbacks.
struct PlaybackSlot
{
    PositionUser tag;
    int32_t channel = -1;
    int32_t sequence = 0; // the device login's sequence number
};

// The download in progress: the user value of the position callback.
struct DownloadRecord
{
    PositionUser tag { PositionUser::RecordDownload, -1 };
    int32_t channel = 0;
    int32_t running = 0; // 1 from the start of a file download to the end of its batch
    int32_t sequence = 0;
};
