#pragma once

#include <cstdint>

// The login record of one device: filled from the page's login request and
// completed from the device's answer (CQNConnect::ConnectDevice). Texts are
// NUL-terminated and keep the device library's widths. The request manager
// keeps the login id, the live stream handles and the colour preview's ids
// with the record, so that clearing the record clears them too.
struct DeviceLoginInfo
{
    static constexpr int kMaxChannels = 64;

    int32_t loginType = 0; // 0 address, 1 serial number, 2 serial number plus token
    char serialNo[32] = {};
    char token[64] = {};
    char ip[64] = {};
    uint16_t port = 0;
    char user[64] = {};
    char password[64] = {};
    int32_t totalChannels = 0; // videoChannels + extraChannels
    int32_t videoChannels = 0;
    int32_t extraChannels = 0;
    int32_t sequence = 0; // 0: none given yet
    int32_t deviceType = 0;
    char cloudError[260] = {};
    char softwareVersion[64] = {};
    int32_t deviceInfo1 = 0;
    int32_t deviceInfo2 = 0;
    int32_t deviceInfo3 = 0;
    char deviceName[64] = {};
    char clientKind[64] = {}; // "Tool": the device's alarms are wanted

    int loginId = 0; // 0 when not logged in
    int realHandles[kMaxChannels] = {}; // live stream per channel: 0 closed, > 0 open, -1 failed
    int colorLoginId = 0; // the colour preview's own login
    int colorRealHandle = 0; // the colour preview's stream

    // Live channels to reopen on the return to the live page: per channel,
    // bit 0 the stream was open, bit 1 its stream type; the window showing it.
    uint8_t restoreFlags[kMaxChannels] = {};
    uint8_t restoreWnds[kMaxChannels] = {};
    int32_t pendingLiveStatus = 0; // 1: the return reports the channels' status
};
