// View control requests: what the embedded window shows and where, the
// snapshot of one channel, the colour preview, electronic PTZ, the two-lens
// zoom, the analysis-rule overlay and a fresh login to the same device.

#include "LightWeightLog.h"
#include "PlayWidgetFacade.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "RuleRegionInfo.h"
#include "TextField.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace {

constexpr int kMaxChannels = DeviceLoginInfo::kMaxChannels;
// The snapshot of a channel opened for it waits this long after the key
// frame request, so that the key frame has been decoded.
std::atomic<int> g_snapshotWaitMs { 2000 };

bool isChannel(int channel)
{
    return channel >= 0 && channel < kMaxChannels;
}

void *channelUser(int channel)
{
    return reinterpret_cast<void *>(quintptr(channel));
}

// Keeps live channel `channel` in the restore lists (its window and stream
// type), stopping its window too when asked.
void keepForRestore(CPluginManage *self, DeviceLoginInfo &info, int channel, bool stop)
{
    int wnd = -1;
    int stream = 0;
    self->RunOnWindow([&](PlayWidgetFacade *widget) {
        wnd = widget->FindWndIndex(0, channel);
        stream = widget->GetChnStream(channel);
        if (stop)
            widget->PreviewStop(channel);
    });
    // A window outside the grid is kept as one (255) that no return reopens.
    info.restoreWnds[channel] = uint8_t(isChannel(wnd) ? wnd : 0xFF);
    info.restoreFlags[channel] = uint8_t(1 | ((stream & 1) << 1));
}

} // namespace

void CPluginManage::setSnapshotWaitMs(int ms)
{
    g_snapshotWaitMs = ms;
}

// MainType 12: hide (1), show (2) or move (4) the window to the page's
// rectangle, relative to the browser's page area.
void CPluginManage::onMainMsgWidgetStatus(const Request &request)
{
    const int mainType = JsonUtil::intKey(request, "MainType");
    const int subType = JsonUtil::intKey(request, "SubType");
    const Json::Value &pos = JsonUtil::member(request, "Pos");
    const int left = JsonUtil::intKey(pos, "Left");
    const int top = JsonUtil::intKey(pos, "Top");
    const int width = JsonUtil::intKey(pos, "Width");
    const int height = JsonUtil::intKey(pos, "Height");
    RunOnWindow(
        [&](PlayWidgetFacade *widget) { widget->onWidgetStatuChange(subType, left, top, width, height); });
    // The service's own control path adds "Potocol" and answers the page itself.
    if (request.isObject() && request.isMember("Potocol"))
        return;
    Json::Value reply(Json::objectValue);
    reply["Msg"] = mainType;
    reply["SubMsg"] = subType;
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}

// MainType 2: switch to the live (0), playback (1) or colour (2) page.
void CPluginManage::onMainMsgSwitchMode(const Request &request)
{
    const int page = JsonUtil::intKey(request, "SubType");
    Json::Value reply = makeReply(request);
    if (page != 2)
        stopColorPreview();
    if (page == 1) {
        // The live streams stop while the playback page shows; the restore
        // lists remember them for the return.
        DeviceLoginInfo &info = m_mainDevice;
        for (int i = 0; i < kMaxChannels; ++i) {
            if (info.realHandles[i] <= 0)
                continue;
            CQNConnect::GetInstance()->DisconnectChannel_V2(
                info.realHandles[i], &CPluginManage::PreviewDataCallback, channelUser(i));
            keepForRestore(this, info, i, true);
            info.realHandles[i] = -1;
            info.pendingLiveStatus = 1;
        }
    } else {
        leavePlaybackPage();
        if (page == 0)
            restoreLiveChannels();
    }
    RunOnWindow([page](PlayWidgetFacade *widget) { widget->SetPageIndex(page); });
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}

void CPluginManage::leavePlaybackPage()
{
    for (int wnd = 0; wnd < 4; ++wnd) {
        if (m_lPlayHandle[wnd] > 0)
            closePlaybackWindow(wnd);
    }
    stopProgressTimer();
    stopPlaybackEndTimer();
    const bool downloading = m_downloadRecord.running;
    cancelDownload();
    if (!downloading)
        RunOnWindow([](PlayWidgetFacade *widget) { widget->SetPlaybackBackground(QString()); });
}

void CPluginManage::restoreLiveChannels()
{
    DeviceLoginInfo &info = m_mainDevice;
    const int count = std::clamp(info.totalChannels, 0, kMaxChannels);
    Json::Value event = pageEvent(PageEvent::ChannelStatus);
    Json::Value &status = event["ChnStatus"];
    status = Json::Value(Json::arrayValue);
    for (int i = 0; i < count; ++i) {
        const int flags = info.restoreFlags[i];
        const int wnd = info.restoreWnds[i];
        const int stream = (flags >> 1) & 1;
        int &handle = info.realHandles[i];
        int ret = Ret::Ok;
        if (!(flags & 1)) {
            ret = handle > 0 ? Ret::Ok : Ret::Failed;
        } else if (handle > 0) {
            ret = Ret::Ok;
        } else if (!isChannel(wnd)) {
            ret = Ret::Failed;
        } else {
            resetWndSlot(i);
            int played = -1;
            RunOnWindow([&](PlayWidgetFacade *widget) { played = widget->PreviewPlay(stream, i, wnd); });
            if (played < 0) {
                ret = Ret::WindowDecodeFailed;
            } else {
                handle = CQNConnect::GetInstance()->ConnectChanel_V2(
                    info.loginId, i, stream, &CPluginManage::PreviewDataCallback, channelUser(i));
                if (handle == 0)
                    handle = -1;
                if (handle < 0) {
                    RunOnWindow([i](PlayWidgetFacade *widget) { widget->PreviewStop(i); });
                    ret = Ret::StreamFailed;
                }
            }
        }
        Json::Value &item = status[i];
        item["Ret"] = ret;
        item["Chn"] = i;
        item["Stream"] = stream;
        bool recording = false;
        RunOnWindow([&](PlayWidgetFacade *widget) { recording = widget->IsRecording(i); });
        item["Record"] = recording;
    }
    std::fill(std::begin(info.restoreFlags), std::end(info.restoreFlags), uint8_t(0));
    std::fill(std::begin(info.restoreWnds), std::end(info.restoreWnds), uint8_t(0));
    if (info.pendingLiveStatus == 1)
        sendWebSocketMsg(JsonUtil::writeCompactText(event));
    info.pendingLiveStatus = 0;
}

// MainType 3: the split layout of the current page.
void CPluginManage::onMainMsgChangeSplit(const Request &request)
{
    const int mode = JsonUtil::intKey(request, "SubType");
    Json::Value reply = makeReply(request);
    int channel = -1;
    RunOnWindow([&](PlayWidgetFacade *widget) {
        widget->ChangeSplit(mode);
        channel = widget->GetWndChn(0, 0);
    });
    reply["Chn"] = channel;
    reply["SubMsg"] = mode;
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}

// MainType 11: select a window of the grid.
void CPluginManage::onMainMsgSetCurWnd(const Request &request)
{
    const int mainType = JsonUtil::intKey(request, "MainType");
    const int wnd = JsonUtil::intKey(request, "SubType");
    Json::Value reply = makeReply(request);
    RunOnWindow([wnd](PlayWidgetFacade *widget) { widget->SetCurWnd(wnd); });
    reply["Msg"] = mainType;
    reply["SubMsg"] = wnd;
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}

// MainType 19: a snapshot of one channel into the live page's fixed picture;
// a channel that is not open is opened on its main stream for it and closed
// again.
void CPluginManage::onMainMsgCapture(const Request &request)
{
    const int channel = JsonUtil::intKey(request, "SubType");
    Json::Value reply(Json::objectValue);
    reply["Msg"] = JsonUtil::member(request, "MainType");
    reply["Channel"] = JsonUtil::member(request, "SubType");
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    int result = -1;
    // The handle table has 64 entries: other channels have nothing to snap.
    if (isChannel(channel)) {
        auto capture = [&] {
            RunOnWindow([&](PlayWidgetFacade *widget) { result = widget->Capture(channel, true); });
        };
        int &handle = m_mainDevice.realHandles[channel];
        if (handle > 0) {
            capture();
        } else {
            int played = -1;
            RunOnWindow([&](PlayWidgetFacade *widget) { played = widget->PreviewPlay(0, channel, -1); });
            if (played >= 0) {
                CQNConnect *connect = CQNConnect::GetInstance();
                const int loginId = m_mainDevice.loginId;
                int opened = connect->ConnectChanel(
                    loginId, channel, 0, &CPluginManage::RealPlayDataCallback, channelUser(channel));
                if (opened == 0)
                    opened = -1;
                handle = opened;
                if (opened > 0) {
                    if (connect->RequestKeyFrame(loginId, channel, 0)) {
                        QThread::msleep(unsigned(std::max(0, g_snapshotWaitMs.load())));
                        capture();
                    }
                    connect->DisconnectChannel(
                        opened, &CPluginManage::RealPlayDataCallback, channelUser(channel));
                }
                RunOnWindow([channel](PlayWidgetFacade *widget) { widget->PreviewStop(channel); });
                handle = 0;
            }
        }
    }
    reply["Ret"] = result < 0 ? Ret::Failed : Ret::Ok;
    sendReply(reply);
}

int CPluginManage::RealPlayDataCallback(
    int realHandle, int dataType, const unsigned char *data, int length, void *user)
{
    Q_UNUSED(realHandle)
    const quintptr channel = reinterpret_cast<quintptr>(user);
    if (!data || length <= 0 || channel >= quintptr(kMaxChannels))
        return 1;
    if (StreamInput *input = streamInput())
        input->InputRealPlayData(int(channel), reinterpret_cast<const char *>(data), length, dataType);
    return 1;
}

// MainType 6: the colour page's preview through a login of its own.
void CPluginManage::onMainMsgColorPreview(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    if (subType != 0 && subType != 1)
        return;
    Json::Value reply = makeReply(request);
    if (subType == 1) {
        stopColorPreview();
        reply["Ret"] = Ret::Ok;
        sendReply(reply);
        return;
    }
    const int channel = JsonUtil::intKey(request, "Channel");
    const int stream = JsonUtil::intKey(request, "Stream");
    stopColorPreview();
    DeviceLoginInfo &info = m_mainDevice;
    CQNConnect *connect = CQNConnect::GetInstance();
    int ret = Ret::LoginFailed;
    // The second login works on a copy: the device's answer must not
    // overwrite the main login's record.
    DeviceLoginInfo second = info;
    int code = 0;
    const int loginId = connect->ConnectDevice(second, code, m_strWebType.toLocal8Bit());
    info.colorLoginId = loginId > 0 ? loginId : -1;
    if (loginId > 0) {
        int started = -1;
        RunOnWindow([&](PlayWidgetFacade *widget) { started = widget->ColorPreviewStart(stream); });
        if (started < 0) {
            ret = Ret::WindowDecodeFailed;
            info.colorRealHandle = -1;
        } else {
            int handle = connect->ConnectChanel(
                loginId, channel, stream, &CPluginManage::ColorPreviewDataCallback, this);
            if (handle == 0)
                handle = -1;
            info.colorRealHandle = handle;
            ret = Ret::Ok;
            if (handle < 0) {
                RunOnWindow([](PlayWidgetFacade *widget) { widget->ColorPreviewStop(); });
                connect->DisconnectDevice(loginId);
                info.colorLoginId = -1;
                ret = Ret::StreamFailed;
            }
        }
    }
    reply["Ret"] = ret;
    sendReply(reply);
}

void CPluginManage::stopColorPreview()
{
    DeviceLoginInfo &info = m_mainDevice;
    CQNConnect *connect = CQNConnect::GetInstance();
    if (info.colorRealHandle > 0) {
        connect->DisconnectChannel(info.colorRealHandle, &CPluginManage::ColorPreviewDataCallback, this);
        RunOnWindow([](PlayWidgetFacade *widget) { widget->ColorPreviewStop(); });
        info.colorRealHandle = -1;
    }
    if (info.colorLoginId > 0) {
        connect->DisconnectDevice(info.colorLoginId);
        info.colorLoginId = -1;
    }
}

int CPluginManage::ColorPreviewDataCallback(
    int realHandle, int dataType, const unsigned char *data, int length, void *user)
{
    Q_UNUSED(realHandle)
    Q_UNUSED(dataType)
    if (!user)
        return -1;
    if (data && length > 0) {
        if (StreamInput *input = streamInput())
            input->InputColorSetData(reinterpret_cast<const char *>(data), length);
    }
    return 1;
}

// MainType 24: electronic PTZ on a live window.
void CPluginManage::onMainMsgPTZControl(const Request &request)
{
    const int command = JsonUtil::intKey(request, "SubType");
    const int channel = JsonUtil::intKey(request, "Channel");
    int value = 0;
    if (command >= 0 && command <= 5)
        value = JsonUtil::intKey(request, "Step");
    else if (command >= 6 && command <= 8)
        value = JsonUtil::intKey(request, "Preset");
    Json::Value reply = makeReply(request);
    bool done = true; // commands outside the table do nothing
    RunOnWindow([&](PlayWidgetFacade *widget) {
        switch (command) {
        case 0:
        case 1:
        case 2:
        case 3:
            done = widget->PTZElectronicMove(channel, command, value);
            break;
        case 4:
            done = widget->PTZElectZoomOut(channel, value);
            break;
        case 5:
            done = widget->PTZElectZoomIn(channel, value);
            break;
        case 6:
        case 7:
        case 8:
            done = widget->PTZElectPresent(channel, command, value);
            break;
        case 9:
            done = widget->PTZElectRedu(channel);
            break;
        case 10:
            done = widget->PTZElectOpen(channel, -1);
            break;
        default:
            break;
        }
    });
    reply["Ret"] = done ? Ret::Ok : Ret::Failed;
    sendReply(reply);
}

// MainType 29: the two-lens zoom switch.
void CPluginManage::onMainMsgScaleSwitch(const Request &request)
{
    const int type = JsonUtil::intKey(request, "SubType");
    const int speed = JsonUtil::intKey(request, "Speed");
    Json::Value reply = makeReply(request);
    RunOnWindow([=](PlayWidgetFacade *widget) { widget->ScaleSwitch(type, speed); });
    reply["Ret"] = Ret::Ok;
    sendReply(reply);
}

// MainType 34: the analysis rule that the live page draws.
void CPluginManage::onMainMsgRegionInfo(const Request &request)
{
    const int mode = JsonUtil::intKey(request, "SubType");
    RuleRegionInfo rule;
    rule.window = JsonUtil::intKey(request, "Channel") & 0xFF;
    rule.ruleType = uint8_t(JsonUtil::intKey(request, "RuleType"));
    rule.show = uint8_t(JsonUtil::intKey(request, "ShowRule"));
    rule.lineDirection = uint8_t(JsonUtil::intKey(request, "AlarmDirectLine"));
    rule.regionDirection = uint8_t(JsonUtil::intKey(request, "AlarmDirectRegion"));
    // The drawing reads this many of the eight points.
    rule.pointCount = std::clamp(JsonUtil::intKey(request, "ptsNum"), 0, RuleRegionInfo::kMaxPoints);
    const Json::Value &line = JsonUtil::member(request, "RuleLine");
    rule.lineStartX = JsonUtil::intKey(line, "StartX");
    rule.lineStartY = JsonUtil::intKey(line, "StartY");
    rule.lineEndX = JsonUtil::intKey(line, "StopX");
    rule.lineEndY = JsonUtil::intKey(line, "StopY");
    const Json::Value &points = JsonUtil::member(request, "RuleRegion");
    for (int i = 0; i < RuleRegionInfo::kMaxPoints; ++i) {
        const Json::Value &point = points.isArray() && Json::ArrayIndex(i) < points.size()
            ? points[Json::ArrayIndex(i)]
            : Json::Value::nullSingleton();
        rule.points[i].x = JsonUtil::intKey(point, "X");
        rule.points[i].y = JsonUtil::intKey(point, "Y");
    }
    int result = Ret::Ok;
    RunOnWindow([&](PlayWidgetFacade *widget) { widget->SetRuleRegionInfo(mode, rule, &result); });
    Json::Value reply = makeReply(request);
    reply["WndNum"] = 0;
    reply["Chn"] = 0;
    reply["Ret"] = result;
    sendReply(reply);
}

// MainType 28: log in to the same device again; the open channels are kept
// in the restore lists for the next return to the live page.
void CPluginManage::onMainMsgRelogin(const Request &request)
{
    DeviceLoginInfo &info = m_mainDevice;
    for (int i = 0; i < kMaxChannels; ++i) {
        if (info.realHandles[i] > 0)
            keepForRestore(this, info, i, false);
    }
    if (info.loginId > 0)
        logoutDev();
    int ret = loginDev();
    if (ret == Ret::Ok) {
        if (info.totalChannels >= 1 && info.totalChannels <= kMaxChannels) {
            const int loginId = info.loginId;
            const bool singleChannel = info.deviceType == 0 || info.totalChannels == 1;
            RunOnWindow([=](PlayWidgetFacade *widget) { widget->SetDeviceInfo(loginId, singleChannel); });
        } else {
            logoutDev();
            playerLog("CPluginManage::onMainMsgRelogin", QStringLiteral("WebDevInfoAbnorma"));
            ret = Ret::BadChannelCount;
        }
    }
    Json::Value reply = makeReply(request);
    reply["Ret"] = ret;
    reply["Id"] = m_nSessionId;
    reply["SerialNo"] = TextField::read(info.serialNo).toStdString();
    sendReply(reply);
}
