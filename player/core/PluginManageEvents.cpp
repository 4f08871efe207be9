// Device alarms and the window-selection events of the request manager.

#include "LightWeightLog.h"
#include "PlayWidgetFacade.h"
#include "PluginManage.h"
#include "TextField.h"
#include "common/Json.h"

#include <cstring>

namespace {

struct AlarmName
{
    const char *name;
    int code;
};

// Searched from the top; the first row with the code names the alarm.
const AlarmName kAlarmNames[] = {
    { "VideoMotion", 4 },
    { "VideoBlind", 6 },
    { "VideoLoss", 5 },
    { "LocalIO", 1 },
    { "NetAlarm", 2 },
    { "CommAlarm", 14 },
    { "NetAbort", 13 },
    { "StorageNotExist", 10 },
    { "StorrageLowSpace", 12 },
    { "StorageFailure", 11 },
    { "ManualAlarm", 3 },
    { "VideoTitle", 7 },
    { "VideoSplit", 8 },
    { "VideoTour", 9 },
    { "NetAbort", 13 },
    { "CommAlarm", 14 },
    { "StorageFailureRead", 15 },
    { "StorageFailureWrite", 16 },
    { "NetIPConflict", 17 },
    { "VideoAnalyze", 25 },
    { "IPCAlarm", 25 },
    { "LoginFailed", 29 },
    { "SerialAlarm", 30 },
    { "PIRAlarm", 31 },
    { "ConsSensorAlarm", 32 },
    { "WordDetect", 33 },
    { "BlurCheck", 34 },
    { "PlateDetect", 35 },
    { "FaceDetectV2", 36 },
    { "433Alarm", 37 },
    { "PIRDetect", 38 },
    { "appEventHumanDetectAlarm", 39 },
    { "FaceDetect", 40 },
    { "FaceRecognition", 41 },
};

const char *alarmName(int code)
{
    for (const AlarmName &row : kAlarmNames) {
        if (row.code == code)
            return row.name;
    }
    return "";
}

const char *alarmState(int state)
{
    switch (state) {
    case TRV_ALARM_START:
        return "Start";
    case TRV_ALARM_STOP:
        return "Stop";
    case TRV_ALARM_PULSE:
        return "Pulse";
    default:
        return "";
    }
}

} // namespace

int CPluginManage::AlarmMessageCallback(
    int loginId, const char *buffer, unsigned int length, void *user, int kind, int reserved)
{
    Q_UNUSED(loginId)
    Q_UNUSED(reserved)
    if (kind != TRV_MSG_ALARM)
        return 1;
    auto *self = static_cast<CPluginManage *>(user);
    // Only the first three fields are read: channel, event code, state.
    int fields[3] = {};
    if (!self || !buffer || length < sizeof fields)
        return 1;
    std::memcpy(fields, buffer, sizeof fields);
    char name[64] = {};
    TextField::copy(name, QByteArray(alarmName(fields[1])));
    Json::Value event(Json::objectValue);
    event["MainEvent"] = 2;
    event["SubEvent"] = 0;
    event["Name"] = "AlarmInfo";
    event["Channel"] = fields[0];
    event["Event"] = name;
    event["Status"] = alarmState(fields[2]);
    self->sendWebSocketMsg(JsonUtil::writeCompactText(event));
    return 1;
}

void CPluginManage::ClearWndSlot(int wnd)
{
    if (wnd >= 0 && wnd < DeviceLoginInfo::kMaxChannels)
        m_wndSlots[wnd] = WndSlot();
    Json::Value event(Json::objectValue);
    event["MainEvent"] = 0;
    event["SubEvent"] = 6;
    event["nShowElect"] = 0;
    sendWebSocketMsg(JsonUtil::writeCompactText(event));
}

int CPluginManage::wndShowElect(int wnd) const
{
    return wnd >= 0 && wnd < DeviceLoginInfo::kMaxChannels ? m_wndSlots[wnd].showElect : 0;
}

int CPluginManage::MapStreamCode(int code)
{
    switch (code) {
    case 16:
    case 32:
        return 1;
    case 17:
    case 33:
        return 2;
    case 18:
    case 34:
        return 3;
    case 19:
    case 35:
        return 4;
    default:
        return -1;
    }
}

void CPluginManage::onCurWndIndexChange(int nPageId, int nWndIndex)
{
    if (nPageId == 0) {
        int channel = -1;
        int brightness = 0, contrast = 0, saturation = 0, hue = 0;
        bool audio = false;
        bool zoom = false;
        int original = 0;
        int playStatus = 0;
        RunInMainThread([&] {
            PlayWidgetFacade *widget = playWidget();
            if (!widget)
                return;
            channel = widget->GetWndChn(0, nWndIndex);
            if (channel < 0)
                return;
            widget->GetColor(channel, &brightness, &contrast, &saturation, &hue);
            audio = widget->IsSoundWnd(0, channel);
            zoom = widget->IsDigitalZoom(0, channel);
            original = widget->GetPlayOriginalState(channel);
            playStatus = widget->GetPlayState(0, channel);
        });
        Json::Value event(Json::objectValue);
        event["MainEvent"] = 0;
        event["SubEvent"] = 0;
        Json::Value &data = event["Data"];
        data["Channel"] = channel;
        data["Wnd"] = nWndIndex;
        data["PlayStatus"] = playStatus;
        data["Audio"] = audio ? 1 : 0;
        data["DigitalZoom"] = zoom;
        data["RageState"] = original;
        data["nBrightness"] = brightness;
        data["nContrast"] = contrast;
        data["nSaturation"] = saturation;
        data["nHue"] = hue;
        sendWebSocketMsg(JsonUtil::writeCompactText(event));

        Json::Value elect(Json::objectValue);
        elect["MainEvent"] = 0;
        elect["SubEvent"] = 6;
        elect["nShowElect"] = wndShowElect(nWndIndex);
        sendWebSocketMsg(JsonUtil::writeCompactText(elect));
    } else if (nPageId == 1) {
        bool recording = false, zoom = false, sound = false;
        int status = 0;
        RunInMainThread([&] {
            PlayWidgetFacade *widget = playWidget();
            if (!widget)
                return;
            widget->GetPlaybackWndStatus(nWndIndex, &recording, &zoom, &sound);
            status = widget->GetPlayState(1, nWndIndex);
        });
        int mode = -1;
        if ((status == 5 || status == 6) && nWndIndex >= 0 && nWndIndex < 4)
            mode = MapStreamCode(m_playbackState[nWndIndex]);
        Json::Value event(Json::objectValue);
        event["MainEvent"] = 1;
        event["SubEvent"] = 0;
        Json::Value &data = event["Data"];
        data["Wnd"] = nWndIndex;
        data["Zoom"] = zoom;
        data["Record"] = recording;
        data["Audio"] = sound;
        data["Status"] = status;
        data["Mode"] = mode;
        sendWebSocketMsg(JsonUtil::writeCompactText(event));
    }
}
