#include "ElectPtz.h"

namespace ElectPtz {

namespace {

bool Make(long long left, long long top, long long right, long long bottom, TRV_PLAY_RECT *out)
{
    if (!IsValid(left, top, right, bottom))
        return false;
    *out = TRV_PLAY_RECT { int32_t(left), int32_t(top), int32_t(right), int32_t(bottom) };
    return true;
}

} // namespace

TRV_PLAY_RECT FullRegion()
{
    return TRV_PLAY_RECT { 0, 0, kSpace, kSpace };
}

bool IsFull(const TRV_PLAY_RECT &region)
{
    return SameRegion(region, FullRegion());
}

bool SameRegion(const TRV_PLAY_RECT &a, const TRV_PLAY_RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool IsValid(long long left, long long top, long long right, long long bottom)
{
    return left >= 0 && top >= 0 && right <= kSpace && bottom <= kSpace && left < right && top < bottom;
}

bool ZoomIn(const TRV_PLAY_RECT &r, int step, TRV_PLAY_RECT *out)
{
    const long long s = step;
    return Make(r.left + s, r.top + s, r.right - s, r.bottom - s, out);
}

bool ZoomOut(const TRV_PLAY_RECT &r, int step, TRV_PLAY_RECT *out)
{
    const long long s = step;
    return Make(r.left - s, r.top - s, r.right + s, r.bottom + s, out);
}

bool Move(const TRV_PLAY_RECT &r, int direction, int step, TRV_PLAY_RECT *out)
{
    const long long s = step;
    switch (direction) {
    case Up:
        return Make(r.left, r.top - s, r.right, r.bottom - s, out);
    case Down:
        return Make(r.left, r.top + s, r.right, r.bottom + s, out);
    case Left:
        return Make(r.left - s, r.top, r.right - s, r.bottom, out);
    case Right:
        return Make(r.left + s, r.top, r.right + s, r.bottom, out);
    default:
        return false;
    }
}

} // namespace ElectPtz

void ElectPtzRecord::Reset()
{
    active = 0;
    region = ElectPtz::FullRegion();
    presets.clear();
}
