// View control requests: what the embedded window shows and where, the
// snapshot of one channel, the colour preview, electronic PTZ, the two-lens
// zoom and the analysis-rule overlay.

#include "ViewControlTopic.h"

#include "LiveViewTopic.h"
#include "PlayWidgetFacade.h"
#include "PlaybackTopic.h"
#include "PlayerWindow.h"
#include "QNConnect.h"
#include "RuleRegionInfo.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <algorithm>

ViewControlTopic::ViewControlTopic(RequestContext &context, LiveViewTopic &live, PlaybackTopic &playback)
    : m_ctx(context)
    , m_live(live)
    , m_playback(playback)
{ }

// MainType 12: hide (1), show (2) or move (4) the window to the page's
// rectangle, relative to the browser's page area.
Answer ViewControlTopic::onMainMsgWidgetStatus(const Request &request)
{
    const int mainType = JsonUtil::intKey(request, "MainType");
    const int subType = JsonUtil::intKey(request, "SubType");
    const Json::Value &pos = JsonUtil::member(request, "Pos");
    const int left = JsonUtil::intKey(pos, "Left");
    const int top = JsonUtil::intKey(pos, "Top");
    const int width = JsonUtil::intKey(pos, "Width");
    const int height = JsonUtil::intKey(pos, "Height");
    m_ctx.RunOnWindow(
        [&](GridWindowFacade *widget) { widget->onWidgetStatuChange(subType, left, top, width, height); });
    // The service's own control path adds "Potocol" and answers the page itself.
    if (request.isObject() && request.isMember("Potocol"))
        return {};
    Json::Value reply(Json::objectValue);
    reply["Msg"] = mainType;
    reply["SubMsg"] = subType;
    reply["Ret"] = Ret::Ok;
    return reply;
}

// MainType 2: switch to the live (0), playback (1) or colour (2) page.
Answer ViewControlTopic::onMainMsgSwitchMode(const Request &request)
{
    const int page = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    if (page != PlayerPage::Color)
        stopColorPreview();
    if (page == PlayerPage::Playback) {
        m_live.stopForPlayback();
    } else {
        m_playback.leavePage();
        if (page == PlayerPage::Live)
            m_live.restoreLiveChannels();
    }
    m_ctx.RunOnWindow([page](GridWindowFacade *widget) { widget->SetPageIndex(page); });
    reply["Ret"] = Ret::Ok;
    return reply;
}

// MainType 3: the split layout of the current page.
Answer ViewControlTopic::onMainMsgChangeSplit(const Request &request)
{
    const int mode = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    int channel = -1;
    m_ctx.RunOnWindow([&](GridWindowFacade *widget) {
        widget->ChangeSplit(mode);
        channel = widget->GetWndChn(PlayerPage::Live, 0);
    });
    reply["Chn"] = channel;
    reply["SubMsg"] = mode;
    reply["Ret"] = Ret::Ok;
    return reply;
}

// MainType 11: select a window of the grid.
Answer ViewControlTopic::onMainMsgSetCurWnd(const Request &request)
{
    const int mainType = JsonUtil::intKey(request, "MainType");
    const int wnd = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    m_ctx.RunOnWindow([wnd](PlaybackWindowFacade *widget) { widget->SetCurWnd(wnd); });
    reply["Msg"] = mainType;
    reply["SubMsg"] = wnd;
    reply["Ret"] = Ret::Ok;
    return reply;
}

// MainType 19: a snapshot of one channel into the live page's fixed picture;
// a channel that is not open is opened on its main stream for it and closed
// again.
Answer ViewControlTopic::onMainMsgCapture(const Request &request)
{
    const int channel = JsonUtil::intKey(request, "SubType");
    Json::Value reply(Json::objectValue);
    reply["Msg"] = JsonUtil::member(request, "MainType");
    reply["Channel"] = JsonUtil::member(request, "SubType");
    reply["MsgID"] = JsonUtil::member(request, "MsgID");
    const int result = m_live.snapshotChannel(channel);
    reply["Ret"] = result < 0 ? Ret::Failed : Ret::Ok;
    return reply;
}

// MainType 6: the colour page's preview through a login of its own.
Answer ViewControlTopic::onMainMsgColorPreview(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    if (subType != ColorPreviewSub::Start && subType != ColorPreviewSub::Stop)
        return {};
    Json::Value reply = pageReply(request);
    if (subType == ColorPreviewSub::Stop) {
        stopColorPreview();
        reply["Ret"] = Ret::Ok;
        return reply;
    }
    const int channel = JsonUtil::intKey(request, "Channel");
    const int stream = JsonUtil::intKey(request, "Stream");
    stopColorPreview();
    DeviceLoginInfo &info = m_ctx.mainDevice();
    CQNConnect *connect = CQNConnect::GetInstance();
    int ret = Ret::LoginFailed;
    // The second login works on a copy: the device's answer must not
    // overwrite the main login's record.
    DeviceLoginInfo second = info;
    int code = 0;
    const int loginId = connect->ConnectDevice(second, code, m_ctx.webType().toLocal8Bit());
    info.colorLoginId = loginId > 0 ? loginId : -1;
    if (loginId > 0) {
        int started = -1;
        m_ctx.RunOnWindow([&](ColorWindowFacade *widget) { started = widget->ColorPreviewStart(stream); });
        if (started < 0) {
            ret = Ret::WindowDecodeFailed;
            info.colorRealHandle = -1;
        } else {
            int handle = connect->ConnectChanel(
                loginId, channel, stream, &ViewControlTopic::ColorPreviewDataCallback, this);
            if (handle == 0)
                handle = -1;
            info.colorRealHandle = handle;
            ret = Ret::Ok;
            if (handle < 0) {
                m_ctx.RunOnWindow([](ColorWindowFacade *widget) { widget->ColorPreviewStop(); });
                connect->DisconnectDevice(loginId);
                info.colorLoginId = -1;
                ret = Ret::StreamFailed;
            }
        }
    }
    reply["Ret"] = ret;
    return reply;
}

void ViewControlTopic::stopColorPreview()
{
    DeviceLoginInfo &info = m_ctx.mainDevice();
    CQNConnect *connect = CQNConnect::GetInstance();
    if (info.colorRealHandle > 0) {
        connect->DisconnectChannel(info.colorRealHandle, &ViewControlTopic::ColorPreviewDataCallback, this);
        m_ctx.RunOnWindow([](ColorWindowFacade *widget) { widget->ColorPreviewStop(); });
        info.colorRealHandle = -1;
    }
    if (info.colorLoginId > 0) {
        connect->DisconnectDevice(info.colorLoginId);
        info.colorLoginId = -1;
    }
}

int ViewControlTopic::ColorPreviewDataCallback(
    int realHandle, int dataType, const unsigned char *data, int length, void *user)
{
    Q_UNUSED(realHandle)
    Q_UNUSED(dataType)
    if (!user)
        return -1;
    if (data && length > 0) {
        if (StreamInput *input = PlayerWindow::streamInput())
            input->InputColorSetData(reinterpret_cast<const char *>(data), length);
    }
    return 1;
}

// MainType 24: electronic PTZ on a live window.
Answer ViewControlTopic::onMainMsgPTZControl(const Request &request)
{
    const int command = JsonUtil::intKey(request, "SubType");
    const int channel = JsonUtil::intKey(request, "Channel");
    int value = 0;
    if (command >= PtzSub::MoveFirst && command <= PtzSub::ZoomIn)
        value = JsonUtil::intKey(request, "Step");
    else if (command >= PtzSub::PresetFirst && command <= PtzSub::PresetLast)
        value = JsonUtil::intKey(request, "Preset");
    Json::Value reply = pageReply(request);
    bool done = true; // commands outside the table do nothing
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        switch (command) {
        case PtzSub::MoveFirst:
        case PtzSub::MoveFirst + 1:
        case PtzSub::MoveFirst + 2:
        case PtzSub::MoveLast:
            done = widget->PTZElectronicMove(channel, command, value);
            break;
        case PtzSub::ZoomOut:
            done = widget->PTZElectZoomOut(channel, value);
            break;
        case PtzSub::ZoomIn:
            done = widget->PTZElectZoomIn(channel, value);
            break;
        case PtzSub::PresetFirst:
        case PtzSub::PresetFirst + 1:
        case PtzSub::PresetLast:
            done = widget->PTZElectPresent(channel, command, value);
            break;
        case PtzSub::Restore:
            done = widget->PTZElectRedu(channel);
            break;
        case PtzSub::Open:
            done = widget->PTZElectOpen(channel, -1);
            break;
        default:
            break;
        }
    });
    reply["Ret"] = done ? Ret::Ok : Ret::Failed;
    return reply;
}

// MainType 29: the two-lens zoom switch.
Answer ViewControlTopic::onMainMsgScaleSwitch(const Request &request)
{
    const int type = JsonUtil::intKey(request, "SubType");
    const int speed = JsonUtil::intKey(request, "Speed");
    Json::Value reply = pageReply(request);
    m_ctx.RunOnWindow([=](LiveWindowFacade *widget) { widget->ScaleSwitch(type, speed); });
    reply["Ret"] = Ret::Ok;
    return reply;
}

// MainType 34: the analysis rule that the live page draws.
Answer ViewControlTopic::onMainMsgRegionInfo(const Request &request)
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
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { widget->SetRuleRegionInfo(mode, rule, &result); });
    Json::Value reply = pageReply(request);
    reply["WndNum"] = 0;
    reply["Chn"] = 0;
    reply["Ret"] = result;
    return reply;
}
