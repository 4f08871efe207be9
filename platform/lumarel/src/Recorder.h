#pragma once

// A recording of a port: type 0 writes the blocks of the input unchanged
// (a ".h265x" stream file), type 2 remuxes them into AVI.

#include "AviMuxer.h"
#include "MediaPacket.h"

#include <cstdio>
#include <memory>
#include <string>

class Recorder
{
public:
    // Null with `*error` set when the type is unknown or the file cannot be created.
    static std::unique_ptr<Recorder> start(
        const std::string &path, int type, int audioRate, AVCodecID audioCodec, int *error);
    ~Recorder();

    // `raw` is the block as it arrived, or null to write the packet as a block.
    void write(const MediaPacket &packet, const uint8_t *raw, size_t rawLength);
    // Closes the file; false when writing failed somewhere.
    bool stop();

private:
    Recorder() = default;

    int m_type = 0;
    FILE *m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
    uint32_t m_sequence = 0;
    std::unique_ptr<AviMuxer> m_avi;
};
