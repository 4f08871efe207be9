#pragma once

// The play states of a decode port and of a playback window's speed code,
// and the one mapping of a state to the page's "Status" (PageStatus).
namespace PlayState {

enum Value : int {
    Playing = 0, // normal speed
    Stopped = 1,
    Paused = 2,
    SlowFirst = 16, // 16 to 19: slow, one level each
    SlowLast = 19,
    FastFirst = 32, // 32 to 35: fast, one level each
    FastLast = 35,
    StepForward = 48,
    StepBackward = 49,
};

// The page's "Status" of `state`; `other` for a state that has none (the
// window facade passes the state on, the playback control reports 0).
int pageStatus(int state, int other);

} // namespace PlayState
