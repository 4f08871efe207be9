// Device alarms, window state, progress and late results: the events that
// the request manager sends without a request.

#include "LightWeightLog.h"
#include "PlayWidgetFacade.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "TextField.h"
#include "common/Json.h"

#include <QFile>

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

// Live pictures of at least this many pixels (2560 x 1440) offer the
// electronic PTZ display.
constexpr qint64 kElectPixels = 3686400;

// The first port of local-file playback; its four windows follow.
constexpr int kLocalFilePort = 128;

Json::Value showElectEvent(int state)
{
    Json::Value event = pageEvent(PageEvent::ElectPtz);
    event["nShowElect"] = state;
    return event;
}

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
    Json::Value event = pageEvent(PageEvent::Alarm);
    event["Name"] = "AlarmInfo";
    event["Channel"] = fields[0];
    event["Event"] = name;
    event["Status"] = alarmState(fields[2]);
    self->sendWebSocketMsg(JsonUtil::writeCompactText(event));
    return 1;
}

void CPluginManage::ClearWndSlot(int wnd)
{
    resetWndSlot(wnd);
    sendWebSocketMsg(JsonUtil::writeCompactText(showElectEvent(0)));
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

namespace {

// What the live page shows of one channel's window, read on the GUI thread.
struct LiveWndState
{
    int brightness = 0, contrast = 0, saturation = 0, hue = 0;
    bool audio = false;
    bool zoom = false;
    int original = 0;
    int playStatus = 0;

    void read(PlayWidgetFacade *widget, int channel)
    {
        widget->GetColor(channel, &brightness, &contrast, &saturation, &hue);
        audio = widget->IsSoundWnd(0, channel);
        zoom = widget->IsDigitalZoom(0, channel);
        original = widget->GetPlayOriginalState(channel);
        playStatus = widget->GetPlayState(0, channel);
    }

    void write(Json::Value &data) const
    {
        data["PlayStatus"] = playStatus;
        data["Audio"] = audio ? 1 : 0;
        data["DigitalZoom"] = zoom;
        data["RageState"] = original;
        data["nBrightness"] = brightness;
        data["nContrast"] = contrast;
        data["nSaturation"] = saturation;
        data["nHue"] = hue;
    }
};

} // namespace

void CPluginManage::onCurWndIndexChange(int nPageId, int nWndIndex)
{
    if (nPageId == 0) {
        int channel = -1;
        LiveWndState state;
        RunOnWindow([&](PlayWidgetFacade *widget) {
            channel = widget->GetWndChn(0, nWndIndex);
            if (channel < 0)
                return;
            state.read(widget, channel);
        });
        Json::Value event = pageEvent(PageEvent::LiveWndChanged);
        Json::Value &data = event["Data"];
        data["Channel"] = channel;
        data["Wnd"] = nWndIndex;
        state.write(data);
        sendWebSocketMsg(JsonUtil::writeCompactText(event));

        // The display state belongs to the picture, that is to the channel
        // the window shows.
        sendWebSocketMsg(JsonUtil::writeCompactText(showElectEvent(wndShowElect(channel))));
    } else if (nPageId == 1) {
        bool recording = false, zoom = false, sound = false;
        int status = 0;
        RunOnWindow([&](PlayWidgetFacade *widget) {
            widget->GetPlaybackWndStatus(nWndIndex, &recording, &zoom, &sound);
            status = widget->GetPlayState(1, nWndIndex);
        });
        int mode = -1;
        if ((status == 5 || status == 6) && nWndIndex >= 0 && nWndIndex < 4)
            mode = MapStreamCode(m_playbackState[nWndIndex]);
        Json::Value event = pageEvent(PageEvent::PlaybackWndChanged);
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

void CPluginManage::onShowPTZElect(int width, int height, int channel)
{
    if (channel < 0 || channel >= DeviceLoginInfo::kMaxChannels)
        return;
    WndSlot &slot = m_wndSlots[channel];
    // A change of only the width or only the height is not taken.
    if (width == slot.width || height == slot.height)
        return;
    playerLog("CPluginManage::onShowPTZElect", QStringLiteral("uHeight:%1,uWidth:%2").arg(height).arg(width));
    slot.width = width;
    slot.height = height;
    slot.showElect = qint64(width) * height >= kElectPixels ? 1 : 0;
    bool current = false;
    RunOnWindow([&](PlayWidgetFacade *widget) { current = widget->GetCurWndChn(0) == channel; });
    if (current)
        sendWebSocketMsg(JsonUtil::writeCompactText(showElectEvent(slot.showElect)));
}

void CPluginManage::SendWndStatus(int chn, int curChn)
{
    int page = -1;
    LiveWndState state;
    RunOnWindow([&](PlayWidgetFacade *widget) {
        page = widget->GetCurPageIndex();
        if (page != 0 || chn < 0 || chn >= DeviceLoginInfo::kMaxChannels)
            return;
        state.read(widget, chn);
    });
    if (page != 0)
        return;
    Json::Value event = pageEvent(PageEvent::WndStatus);
    Json::Value &data = event["Data"];
    data["Chn"] = chn;
    data["CurChannel"] = curChn;
    state.write(data);
    sendWebSocketMsg(JsonUtil::writeCompactText(event));
}

void CPluginManage::SendDataEvent(int chn, int wnd)
{
    Json::Value event = pageEvent(PageEvent::PlaybackEnded);
    event["Data"]["Chn"] = chn;
    event["Data"]["Wnd"] = wnd;
    sendWebSocketMsg(JsonUtil::writeCompactText(event));
}

int CPluginManage::DownloadPosition(int total, int current)
{
    if (total < 1)
        return -1;
    if (current == -1)
        return 1000;
    // In 64 bits: a file past 2 MiB would overflow current * 1000 in 32.
    return int(qBound<qint64>(0, qint64(current) * 1000 / total, 1000));
}

void CPluginManage::OnProgressCallback(int handle, int total, int current, int kind, int wnd)
{
    Q_UNUSED(handle)
    if (kind == 0) {
        if (wnd < 0 || wnd >= 4)
            return;
        if (m_nPlaybackMode == 1)
            startPlaybackEndTimer();
        else
            EndPlaybackBuf(wnd);
        return;
    }
    if ((kind != 1 && kind != 2) || !m_lDownloadHandle || total < 1)
        return;
    const int pos = DownloadPosition(total, current);
    if (kind == 1) {
        Json::Value event = pageEvent(PageEvent::DownloadProgress);
        event["Data"]["Pos"] = pos;
        sendWebSocketMsg(JsonUtil::writeCompactText(event));
    }
    if (current != -1)
        return;
    // The file is complete.
    if (CQNConnect *connect = CQNConnect::GetInstance())
        connect->CloseHandle(m_lDownloadHandle);
    m_lDownloadHandle = 0;
    if (kind == 2 && !m_strTempFilePath.isEmpty() && QFile::exists(m_strTempFilePath)) {
        const QString picture = m_strTempFilePath;
        RunOnWindow([picture](PlayWidgetFacade *widget) { widget->SetPlaybackBackground(picture); });
    }
    downloadNextFile();
}

void CPluginManage::OnUpgradeProgress(int upgradeHandle, int status, int totalSize, int sendSize)
{
    if (status == TRV_UPGRADE_SUCCESS || status == TRV_UPGRADE_FAILED) {
        if (CQNConnect *connect = CQNConnect::GetInstance())
            connect->CloseUpgrade(upgradeHandle);
        m_bUpgrading = false;
    }
    Json::Value event = pageEvent(PageEvent::UpgradeProgress);
    event["Data"]["Status"] = status;
    event["Data"]["TotalSize"] = totalSize;
    event["Data"]["SendSize"] = sendSize;
    event["IsUpgrade"] = m_bUpgrading;
    sendWebSocketMsg(JsonUtil::writeCompactText(event));
}

void CPluginManage::keepVoiceFileRequest(int subType, int msgId)
{
    m_nVoiceFileSubType = subType;
    m_nVoiceFileMsgId = msgId;
}

void CPluginManage::SDKResultCallback(int transferHandle, int state, int code, void *user)
{
    Q_UNUSED(transferHandle)
    auto *self = static_cast<CPluginManage *>(user);
    if (!self)
        return;
    const int result = state == TRV_TRANSFER_DONE ? int(Ret::Ok) : code;
    // The kept request is the worker's: a new request may be changing it
    // right now, so the answer is written there.
    self->RunInWorkerThread([self, result] { self->sendVoiceFileResult(result); });
}

void CPluginManage::sendVoiceFileResult(int result)
{
    Json::Value reply(Json::objectValue);
    reply["Msg"] = 30;
    reply["SubMsg"] = m_nVoiceFileSubType;
    reply["MsgID"] = m_nVoiceFileMsgId;
    reply["nRet"] = result;
    sendReply(reply);
}

void CPluginManage::LocalPlayEndCallback(int port, void *user)
{
    auto *self = static_cast<CPluginManage *>(user);
    if (!self)
        return;
    const int wnd = port >= kLocalFilePort && port < kLocalFilePort + 4 ? port - kLocalFilePort : -1;
    self->RunInWorkerThread([self, port, wnd] { self->SendDataEvent(port, wnd); });
}
