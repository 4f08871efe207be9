#include "PlayState.h"

#include "common/Protocol.h"

int PlayState::pageStatus(int state, int other)
{
    switch (state) {
    case Playing:
        return PageStatus::Playing;
    case Stopped:
        return PageStatus::Stopped;
    case Paused:
        return PageStatus::Paused;
    case StepForward:
        return PageStatus::StepForward;
    case StepBackward:
        return PageStatus::StepBackward;
    default:
        break;
    }
    if (state >= SlowFirst && state <= SlowLast)
        return PageStatus::Slow;
    if (state >= FastFirst && state <= FastLast)
        return PageStatus::Fast;
    return other;
}
