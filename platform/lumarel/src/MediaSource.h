#pragma once

// The packets of a file port: a ".h265x" stream file or an AVI file.

#include "MediaPacket.h"

#include <memory>
#include <string>
#include <vector>

class FileSource
{
public:
    virtual ~FileSource() = default;

    // Opens `path` by its content; null with `*error` set on failure.
    static std::unique_ptr<FileSource> open(const std::string &path, int *error);

    // The next packet. `raw` receives the block as stored in a stream file,
    // or stays empty for other files. False at the end of the file.
    virtual bool read(MediaPacket *packet, std::vector<uint8_t> *raw) = 0;
    // Moves to the key frame at or before a relative position (0-1).
    virtual bool seekRelative(double position) = 0;
    // Timestamp of the picture at a relative position; the first picture
    // shown after a seek is the first at or after it.
    virtual int64_t timestampAt(double position) const = 0;
    // Relative position (0-1) of a picture with the given timestamp.
    virtual double positionOf(int64_t timestampMs) const = 0;
    virtual bool hasAudio() const = 0;
    virtual int audioRate() const = 0;
    virtual AVCodecID audioCodec() const = 0;
};
