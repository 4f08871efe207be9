#pragma once

// The moving test picture of a simulated camera: a background coloured per
// channel, a box sweeping across, the channel number (1-based) and the time
// within the loop (seconds and hundredths), drawn as seven-segment digits.

#include <cstdint>
#include <vector>

namespace kx {

struct YuvImage
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v; // planar 4:2:0; chroma planes (width/2) x (height/2)
};

// Picture `index` of a loop of `frames` pictures at 25 per second.
void drawTestPicture(YuvImage *image, int channel, int index, int frames);

} // namespace kx
