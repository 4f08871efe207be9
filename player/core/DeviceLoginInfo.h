#pragma once

#include <QString>

#include <cstdint>

// The login record of one device: filled from the page's login request and
// completed from the device's answer. Texts keep the device library's widths.
struct DeviceLoginInfo
{
    int loginId = 0; // 0 when not logged in
    int32_t loginType = 0; // 0 address, 1 serial number, 2 serial number plus token
    char serialNo[32] = {};
    char token[64] = {};
    char ip[64] = {};
    uint16_t port = 0;
    char user[64] = {};
    char password[64] = {};
    int32_t totalChannels = 0;
    int32_t videoChannels = 0;
    int32_t extraChannels = 0;
    int32_t sequence = 0;
    int32_t deviceType = 0;
    char cloudError[260] = {};
    char softwareVersion[64] = {};
    int32_t deviceInfo1 = 0;
    int32_t deviceInfo2 = 0;
    int32_t deviceInfo3 = 0;
    char deviceName[64] = {};
    QString clientKind;
};
