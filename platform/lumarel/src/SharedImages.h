#pragma once

// Pictures in shared memory. A window that puts its pictures straight into
// its X window has its port scale them into memory the X server reads them
// from (DirectDraw), so that nobody copies them on the way. The images a
// port scales into, a set of one size, share one segment: the system has
// few segments to give, and the X server attaches each one once.

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SharedImages {

// Any thread: `count` images of width x height in the layout of
// imageLayout(), in one segment that lives as long as one of them does;
// empty when shared memory cannot be had.
std::vector<QImage> makeSet(int width, int height, int count);

// Where the pixels of an image of a set lie.
struct Place
{
    int shmId = -1;
    uint32_t offset = 0; // of the image's first pixel in the segment
    uint64_t segment = 0; // names the segment, never reused
};
// Any thread: whether `bits` are the first pixel of an image of a set.
bool find(const uchar *bits, Place *place);

// Any thread: the segments (by Place::segment) let go of since the last call.
std::vector<uint64_t> takeReleased();

} // namespace SharedImages
