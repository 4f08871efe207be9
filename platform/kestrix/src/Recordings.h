#pragma once

#include "kestrix/kestrix.h"

// Recordings and pictures of a device channel, and their content: a
// recording is the channel's video loop as stream-format blocks, 25 per
// second from its begin time, cut at its size; a picture is a JPEG.

#include "Devices.h"
#include "VideoLoop.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kx {

// The files of a channel (sorted by begin time); made on first use.
std::vector<RecordingFile> recordingsOf(DeviceState &device, int channel, int streamType, int fileType);
// The file of the channel with that name, in any stream type and file kind.
bool findRecording(DeviceState &device, int channel, const std::string &name, RecordingFile *out);

// Bytes of a recording, read in order.
class RecordingReader
{
public:
    RecordingReader(const RecordingFile &file, std::shared_ptr<const VideoLoop> loop,
        std::shared_ptr<const std::vector<uint8_t>> jpeg);
    // Up to `max` next bytes; 0 at the end.
    size_t read(uint8_t *out, size_t max);
    int64_t size() const { return m_size; }

private:
    void makeBlock();

    RecordingFile m_file;
    std::shared_ptr<const VideoLoop> m_loop;
    std::shared_ptr<const std::vector<uint8_t>> m_jpeg;
    int64_t m_size = 0;
    int64_t m_done = 0;
    int64_t m_frame = 0;
    std::vector<uint8_t> m_block;
    size_t m_blockPos = 0;
};

// One piece of a playback: frames [first, last) of a recording.
struct PlaySegment
{
    RecordingFile file;
    int64_t first = 0;
    int64_t last = 0;
};

// Number of whole frames a recording holds within its size.
int64_t recordingFrames(const RecordingFile &file, const VideoLoop &loop);
// Makes stream-format block `frame` of a recording.
void recordingBlock(
    const RecordingFile &file, const VideoLoop &loop, int64_t frame, std::vector<uint8_t> *out);
// Frames a recording of `seconds` holds; its size in bytes.
int64_t bytesOfFrames(const VideoLoop &loop, int64_t frames);

} // namespace kx
