#pragma once

#include "DeviceLoginInfo.h"

#include <functional>
#include <memory>

// A voice talk as the talk request drives it. The window side makes the real
// one (CTalk); the request manager only starts, stops and deletes it.
class TalkControl
{
public:
    using Factory = std::function<std::unique_ptr<TalkControl>()>;

    virtual ~TalkControl() = default;
    virtual void SetDeviceInfo(const DeviceLoginInfo &device) = 0;
    virtual void SetSampleRate16(bool on) = 0;
    // Talk with the device itself, or with one channel (-1: any that can talk).
    virtual bool TalkDevice() = 0;
    virtual bool TalkChannel(int channel) = 0;
    // 1 when stopped, 0 without a login.
    virtual int StopTalk() = 0;
};
