#pragma once

// The encoded pictures of the simulated cameras. Encoding every live stream
// would cost too much, so each channel and picture size is encoded once as a
// short H.264 loop (2 s at 25 frames per second, a key frame every 25) that
// streams, playbacks and downloads replay with fresh timestamps. Loops are
// made on first use and shared by every device.

#include <cstdint>
#include <memory>
#include <vector>

namespace kx {

constexpr int kLoopFrames = 50;
constexpr int kKeyInterval = 25;
constexpr int kFrameRate = 25;
constexpr int kFrameMs = 1000 / kFrameRate;

struct EncodedFrame
{
    std::vector<uint8_t> data; // Annex-B; key frames carry the parameter sets
    bool key = false;
};

struct VideoLoop
{
    int channel = 0;
    int width = 0;
    int height = 0;
    std::vector<EncodedFrame> frames;
    int64_t blockBytes = 0; // all frames as stream-format blocks (header + payload)
};

// The loop of a channel at a picture size; null when no H.264 encoder can be opened.
std::shared_ptr<const VideoLoop> videoLoop(int channel, int width, int height);

// A JPEG of the channel's test picture; empty when it cannot be made.
std::shared_ptr<const std::vector<uint8_t>> testJpeg(int channel, int width, int height);

} // namespace kx
