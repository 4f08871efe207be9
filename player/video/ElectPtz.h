#pragma once

#include "lumarel/lumarel.h"

#include <map>

// Electronic PTZ of a live channel: the part of the picture that the play
// library shows, a region in the picture's 0-8192 space on both axes, moved
// and zoomed in steps, with presets to go back to.
//
// Every new region is checked as a whole, in 64-bit arithmetic: it must lie
// inside the picture and keep a positive width and height. A page's step
// (negative, or large enough to overflow) can never produce an inverted or
// outside region.
namespace ElectPtz {

constexpr int kSpace = TRV_PLAY_REGION_SPACE;

// Directions of Move.
enum Direction { Up = 0, Down = 1, Left = 2, Right = 3 };

TRV_PLAY_RECT FullRegion();
bool IsFull(const TRV_PLAY_RECT &region);
bool SameRegion(const TRV_PLAY_RECT &a, const TRV_PLAY_RECT &b);
// 0 <= left < right <= 8192 and 0 <= top < bottom <= 8192.
bool IsValid(long long left, long long top, long long right, long long bottom);

// The region `step` closer on every side; false (and `out` untouched) when it
// would vanish or leave the picture.
bool ZoomIn(const TRV_PLAY_RECT &region, int step, TRV_PLAY_RECT *out);
// The region `step` wider on every side; false when it would leave the picture.
bool ZoomOut(const TRV_PLAY_RECT &region, int step, TRV_PLAY_RECT *out);
// The region moved by `step` in `direction`; false for another direction or
// when it would leave the picture.
bool Move(const TRV_PLAY_RECT &region, int direction, int step, TRV_PLAY_RECT *out);

} // namespace ElectPtz

// The electronic-PTZ state of one channel.
struct ElectPtzRecord
{
    int active = 0;
    TRV_PLAY_RECT region = ElectPtz::FullRegion();
    std::map<int, TRV_PLAY_RECT> presets;

    // Inactive, the whole picture, no presets.
    void Reset();
};
