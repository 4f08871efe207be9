// Live view (MainType 4): opening and closing the device's live streams and
// the live windows' own functions, with the data callback of the streams,
// the window slots, the live window events, and the streams kept and
// restored around the playback page and a fresh login.

#include "LiveViewTopic.h"

#include "GetSystemStatus.h"
#include "LightWeightLog.h"
#include "PlayWidgetFacade.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "WndState.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <QThread>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <climits>
#include <stdexcept>

namespace {

constexpr int kMaxChannels = DeviceLoginInfo::kMaxChannels;
constexpr int kLiveMemoryCapMiB = 1024;
constexpr int kMainStreamMiB = 40;
constexpr int kOtherStreamMiB = 25;

bool isChannel(int channel)
{
    return channel >= 0 && channel < kMaxChannels;
}

// The user value of a live stream's data callback: its channel.
void *channelUser(int channel)
{
    return reinterpret_cast<void *>(quintptr(channel));
}

Json::Value channelStatusEvent()
{
    Json::Value event = pageEvent(PageEvent::ChannelStatus);
    event["ChnStatus"] = Json::Value(Json::arrayValue);
    return event;
}

// The picture size last posted to the worker per channel (width << 16 |
// height), so that the data callbacks post only changes. The worker clears
// an entry with the channel's window slot, so the next frame posts again.
std::atomic<uint32_t> g_postedSize[kMaxChannels];

// The snapshot of a channel opened for it waits this long after the key
// frame request, so that the key frame has been decoded.
std::atomic<int> g_snapshotWaitMs { 2000 };

// Live pictures of at least this many pixels (2560 x 1440) offer the
// electronic PTZ display.
constexpr qint64 kElectPixels = 3686400;

Json::Value showElectEvent(int state)
{
    Json::Value event = pageEvent(PageEvent::ElectPtz);
    event["nShowElect"] = state;
    return event;
}

} // namespace

LiveViewTopic::LiveViewTopic(RequestContext &context, CGetSystemStatus &systemStatus)
    : m_ctx(context)
    , m_systemStatus(systemStatus)
{ }

void LiveViewTopic::setSnapshotWaitMs(int ms)
{
    g_snapshotWaitMs = ms;
}

int LiveViewTopic::LiveChannelBudget(int remainMiB, int appMiB, int streamType)
{
    const int remain = std::min(remainMiB, kLiveMemoryCapMiB);
    const int perChannel = streamType == 0 ? kMainStreamMiB : kOtherStreamMiB;
    return int((qint64(remain) - appMiB) / perChannel);
}

int LiveViewTopic::checkLiveMemory(int streamType)
{
    const int remain = std::min(m_systemStatus.GetRemainMemory(), kLiveMemoryCapMiB);
    playerLog("CPluginManage::onMainMsgPreview",
        QStringLiteral("nRemainMemory--------->nRemainMemory:%1").arg(remain));
    const int app = m_systemStatus.GetAppMemory();
    playerLog("CPluginManage::onMainMsgPreview",
        QStringLiteral("CurAppMemory=%1<==========================>CurRemainMemory=%2").arg(app).arg(remain));
    const int supported = LiveChannelBudget(remain, app, streamType);
    playerLog("CPluginManage::onMainMsgPreview", QStringLiteral("nSupportNum : %1").arg(supported));
    if (supported <= 0)
        playerLog("CPluginManage::onMainMsgPreview",
            QStringLiteral("The remaining memory is not enough to open all channels of the device! "),
            LightWeightLog::Warning);
    return supported;
}

void LiveViewTopic::resetWndSlot(int wnd)
{
    if (!isChannel(wnd))
        return;
    m_wndSlots[wnd] = WndSlot();
    g_postedSize[wnd].store(0, std::memory_order_relaxed);
}

bool LiveViewTopic::disconnectLive(int channel)
{
    if (!isChannel(channel))
        return false;
    int &handle = m_ctx.mainDevice().realHandles[channel];
    const bool open = handle > 0;
    // Returns once no data callback of the stream runs any more.
    if (open)
        CQNConnect::GetInstance()->DisconnectChannel_V2(
            handle, &LiveViewTopic::PreviewDataCallback, channelUser(channel));
    handle = 0;
    return open;
}

Answer LiveViewTopic::onMainMsgPreview(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);

    switch (subType) {
    case PreviewSub::Open: {
        const int channel = JsonUtil::intKey(request, "Channel");
        const int stream = JsonUtil::intKey(request, "Stream");
        if (channel == -1 || channel > 256) {
            const int count = channel == -1 ? m_ctx.mainDevice().totalChannels : channel - 256;
            // The grid and the handle table have 64 entries.
            return openPreviewChannels(reply, std::clamp(count, 0, kMaxChannels), stream);
        }
        return openPreview(reply, channel, stream);
    }
    case PreviewSub::Close:
        return closePreview(reply, JsonUtil::intKey(request, "Channel"));
    case PreviewSub::GetColor: {
        const int channel = JsonUtil::intKey(request, "Channel");
        int brightness = 0, contrast = 0, saturation = 0, hue = 0;
        if (isChannel(channel)) {
            m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
                widget->GetColor(channel, &brightness, &contrast, &saturation, &hue);
            });
        }
        playerLog("CPluginManage::onMainMsgPreview",
            QStringLiteral("nChannel=%1 nBrightness=%2 nContrast=%3 nSaturation=%4 nHue=%5")
                .arg(channel)
                .arg(brightness)
                .arg(contrast)
                .arg(saturation)
                .arg(hue));
        // The page reads the values; "Ret" has always been 1016 here.
        reply["Ret"] = Ret::Failed;
        reply["nBrightness"] = brightness;
        reply["nContrast"] = contrast;
        reply["nSaturation"] = saturation;
        reply["nHue"] = hue;
        break;
    }
    case PreviewSub::SetColor: {
        const int type = JsonUtil::intKey(request, "Type");
        const int value = JsonUtil::intKey(request, "Value");
        bool done = false;
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { done = widget->SetColor(type, value); });
        reply["Ret"] = done ? Ret::Ok : Ret::Failed;
        reply["Chn"] = -1;
        break;
    }
    case PreviewSub::PlayState: {
        const int channel = JsonUtil::intKey(request, "Channel");
        int state = -1;
        if (isChannel(channel)) {
            m_ctx.RunOnWindow(
                [&](LiveWindowFacade *widget) { state = widget->GetPlayState(PlayerPage::Live, channel); });
        }
        reply["Status"] = state < 0 ? -1 : state;
        reply["Ret"] = state < 0 ? Ret::Failed : Ret::Ok;
        break;
    }
    case PreviewSub::FullScreen:
        m_ctx.RunOnWindow([](LiveWindowFacade *widget) { widget->onFullScreen(); });
        reply["Ret"] = Ret::Ok;
        reply["Chn"] = -1;
        break;
    case PreviewSub::CurrentChannel: {
        int channel = -1;
        m_ctx.RunOnWindow(
            [&](LiveWindowFacade *widget) { channel = widget->GetCurWndChn(PlayerPage::Current); });
        reply["Ret"] = Ret::Ok;
        reply["Chn"] = channel;
        break;
    }
    case PreviewSub::Sound: {
        const int channel = JsonUtil::intKey(request, "Channel");
        int result = -1;
        bool audio = false;
        if (isChannel(channel)) {
            m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
                const bool on = widget->IsSoundWnd(PlayerPage::Live, channel);
                result = widget->OpenSound(PlayerPage::Live, channel, !on);
                audio = widget->IsSoundWnd(PlayerPage::Live, channel);
            });
        }
        reply["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
        reply["Audio"] = audio ? 1 : 0;
        reply["Chn"] = channel;
        break;
    }
    case PreviewSub::Snapshot: {
        const int channel = JsonUtil::intKey(request, "Channel");
        int result = -1;
        LocalInfo info;
        if (isChannel(channel)) {
            m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
                result = widget->Capture(channel, false);
                if (result == 0)
                    info = widget->LoadLocalInfo();
            });
        }
        reply["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
        reply["Chn"] = channel;
        if (result == 0)
            reply["CapPath"] = info.CapPath.toStdString();
        break;
    }
    case PreviewSub::Record: {
        const int channel = JsonUtil::intKey(request, "Channel");
        const int record = JsonUtil::intKey(request, "Record");
        return recordPreview(reply, channel, record);
    }
    case PreviewSub::PlayOriginal:
    case PreviewSub::PreviewStatus: {
        int channel = -1;
        int result = -1;
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
            channel = widget->GetCurWndChn(PlayerPage::Live);
            // A current window without a channel has nothing to change.
            if (!isChannel(channel))
                return;
            if (subType == PreviewSub::PlayOriginal)
                result = widget->PlayOriginal(channel);
            else
                result = widget->SetPreviewStatus(channel) ? 0 : -1;
        });
        if (subType == PreviewSub::PlayOriginal)
            playerLog("CPluginManage::onMainMsgPreview",
                QStringLiteral("PlayControlCmdPlayOriginal--->%1").arg(channel));
        reply["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
        break;
    }
    default:
        // SubTypes 6, 11 and unknown ones do nothing and get no reply.
        return {};
    }
    return reply;
}

Answer LiveViewTopic::openPreview(Json::Value &reply, int channel, int stream)
{
    reply["Chn"] = channel;
    reply["oldChn"] = -1;
    reply["Stream"] = stream;
    // A channel outside the 64-entry tables opens nothing and closes nothing.
    if (!isChannel(channel)) {
        reply["Ret"] = Ret::Failed;
        return reply;
    }
    int *handles = m_ctx.mainDevice().realHandles;

    // The channel's own stream is replaced.
    const bool stopped = disconnectLive(channel);
    if (stopped) {
        m_ctx.RunOnWindow([channel](LiveWindowFacade *widget) { widget->PreviewStop(channel); });
        ClearWndSlot(channel);
    }

    // The current window shows the channel from now on: whatever it shows is
    // stopped.
    int wnd = -1;
    int oldChn = -1;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        wnd = widget->GetCurWndIndex();
        oldChn = widget->GetWndChn(PlayerPage::Live, wnd);
    });
    if (isChannel(oldChn)) {
        if (oldChn != channel || !stopped) {
            disconnectLive(oldChn);
            m_ctx.RunOnWindow([oldChn](LiveWindowFacade *widget) { widget->PreviewStop(oldChn); });
            ClearWndSlot(oldChn);
        }
    } else {
        oldChn = -1;
    }
    reply["oldChn"] = oldChn;
    reply["Ret"] = Ret::Failed;

    if constexpr (kLiveMemoryCheck) {
        if (checkLiveMemory(stream) <= 0) {
            handles[channel] = -1;
            reply["Ret"] = Ret::NoMemoryForChannel;
            return reply;
        }
    }

    resetWndSlot(channel);
    int error = 0;
    const int ret = startLive(channel, stream, wnd, &error);
    reply["Ret"] = ret;
    if (ret == Ret::StreamFailed) {
        reply["Error"] = error;
        ClearWndSlot(channel);
    } else if (ret == Ret::Ok) {
        int curChn = -1;
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { curChn = widget->GetCurWndChn(PlayerPage::Live); });
        SendWndStatus(channel, curChn);
    }
    return reply;
}

int LiveViewTopic::startLive(int channel, int stream, int wnd, int *error)
{
    int *handles = m_ctx.mainDevice().realHandles;
    int played = -1;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { played = widget->PreviewPlay(stream, channel, wnd); });
    if (played < 0) {
        handles[channel] = -1;
        return Ret::WindowDecodeFailed;
    }
    resetWndSlot(channel);
    int handle = CQNConnect::GetInstance()->ConnectChanel_V2(m_ctx.mainDevice().loginId, channel, stream,
        &LiveViewTopic::PreviewDataCallback, channelUser(channel));
    if (handle == 0)
        handle = -1;
    handles[channel] = handle;
    if (handle < 0) {
        *error = handle;
        m_ctx.RunOnWindow([channel](LiveWindowFacade *widget) { widget->PreviewStop(channel); });
        return Ret::StreamFailed;
    }
    return Ret::Ok;
}

Answer LiveViewTopic::openPreviewChannels(Json::Value &reply, int count, int stream)
{
    reply["Ret"] = Ret::Failed;
    reply["Chn"] = 0;
    reply["oldChn"] = 0;
    reply["Stream"] = 0;

    // Window i shows channel i from now on: stop the streams of these
    // channels, and what else windows 0..count-1 show, so that no other
    // stream keeps drawing into them.
    QVector<int> stop;
    for (int i = 0; i < count; ++i) {
        if (disconnectLive(i))
            stop.append(i);
    }
    QVector<int> shown;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        for (int i : stop)
            widget->PreviewStop(i);
        for (int wnd = 0; wnd < count; ++wnd) {
            const int chn = widget->GetWndChn(PlayerPage::Live, wnd);
            if (chn >= count && chn < kMaxChannels && !shown.contains(chn))
                shown.append(chn);
        }
    });
    for (int chn : shown) {
        disconnectLive(chn);
        m_ctx.RunOnWindow([chn](LiveWindowFacade *widget) { widget->PreviewStop(chn); });
        resetWndSlot(chn);
    }

    int opened = count;
    if constexpr (kLiveMemoryCheck)
        opened = std::clamp(checkLiveMemory(stream), 0, count);

    Json::Value event = channelStatusEvent();
    Json::Value &status = event["ChnStatus"];
    int ret = Ret::Failed;
    for (int i = 0; i < opened; ++i) {
        int error = Ret::Ok;
        ret = startLive(i, stream, i, &error);
        Json::Value &item = status[i];
        // The error of this channel only.
        if (ret != Ret::Ok && error != Ret::Ok)
            item["Error"] = error;
        item["Ret"] = ret;
        item["Chn"] = i;
        item["Stream"] = stream;
    }
    for (int i = opened; i < count; ++i) {
        Json::Value &item = status[i];
        item["Ret"] = Ret::NoMemoryForChannel;
        item["Chn"] = i;
        item["Stream"] = stream;
    }

    int curChn = -1;
    m_ctx.RunInMainThread([&] {
        LiveWindowFacade *widget = PlayerWindow::current();
        for (int i = 0; i < count; ++i)
            status[i]["Record"] = widget ? widget->IsRecording(i) : false;
        if (widget)
            curChn = widget->GetCurWndChn(PlayerPage::Live);
    });
    SendWndStatus(curChn, curChn);
    ClearWndSlot(curChn);

    reply["Ret"] = ret;
    m_ctx.sendEvent(event);
    return reply;
}

Answer LiveViewTopic::closePreview(Json::Value &reply, int channel)
{
    reply["Chn"] = channel;
    reply["Ret"] = Ret::Ok;
    if (channel == -1) {
        for (int i = 0; i < kMaxChannels; ++i)
            resetWndSlot(i);
        const int count = std::clamp(m_ctx.mainDevice().totalChannels, 0, kMaxChannels);
        for (int i = 0; i < count; ++i)
            disconnectLive(i);
        Json::Value event = channelStatusEvent();
        Json::Value &status = event["ChnStatus"];
        int curChn = -1;
        m_ctx.RunInMainThread([&] {
            LiveWindowFacade *widget = PlayerWindow::current();
            for (int i = 0; i < count; ++i) {
                if (widget)
                    widget->PreviewStop(i);
                Json::Value &item = status[i];
                item["Ret"] = Ret::Ok;
                item["Chn"] = i;
                item["Stream"] = 9;
                item["Record"] = widget ? widget->IsRecording(i) : false;
            }
            if (widget)
                curChn = widget->GetCurWndChn(PlayerPage::Live);
        });
        SendWndStatus(curChn, curChn);
        ClearWndSlot(curChn);
        m_ctx.sendEvent(event);
        return reply;
    }

    playerLog("CPluginManage::onMainMsgPreview", QStringLiteral("stop play channel:%1").arg(channel));
    if (!isChannel(channel)) {
        reply["Ret"] = Ret::Failed;
        return reply;
    }
    disconnectLive(channel);
    int curChn = -1;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        curChn = widget->GetCurWndChn(PlayerPage::Live);
        widget->PreviewStop(channel);
    });
    ClearWndSlot(channel);
    SendWndStatus(channel, curChn);
    return reply;
}

Answer LiveViewTopic::recordPreview(Json::Value &reply, int channel, int record)
{
    reply["Chn"] = channel;
    reply["Record"] = record;
    const bool on = record != 0;
    if (channel == -1) {
        const int count = std::clamp(m_ctx.mainDevice().totalChannels, 0, kMaxChannels);
        Json::Value event = channelStatusEvent();
        Json::Value &status = event["ChnStatus"];
        m_ctx.RunInMainThread([&] {
            LiveWindowFacade *widget = PlayerWindow::current();
            for (int i = 0; i < count; ++i) {
                bool recording = false;
                const int result = widget ? widget->Record(i, on, &recording) : -1;
                Json::Value &item = status[i];
                item["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
                item["Chn"] = i;
                item["Record"] = widget ? widget->IsRecording(i) : false;
            }
        });
        reply["Ret"] = Ret::Ok;
        m_ctx.sendEvent(event);
        return reply;
    }

    int result = -1;
    LocalInfo info;
    if (isChannel(channel)) {
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
            info = widget->LoadLocalInfo();
            bool recording = false;
            result = widget->Record(channel, on, &recording);
        });
    }
    reply["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
    reply["RecPath"] = info.RecPath.toStdString();
    return reply;
}

int LiveViewTopic::PreviewDataCallback(int realHandle, const TRV_FRAME_INFO *frame, void *user)
{
    Q_UNUSED(realHandle)
    // The device library's thread: no manager state, no widget. Data goes to
    // the window facade only while a window exists (none is made here), and
    // picture sizes go to the worker.
    const quintptr channel = reinterpret_cast<quintptr>(user);
    if (!frame || channel >= quintptr(kMaxChannels))
        return 1;
    const int chn = int(channel);
    if (frame->data && frame->length > 0 && frame->length <= unsigned(INT_MAX)) {
        if (StreamInput *input = PlayerWindow::streamInput())
            input->InputRealPlayData(
                chn, reinterpret_cast<const char *>(frame->data), int(frame->length), frame->frameType);
    }
    if (frame->frameType == TRV_FRAME_VIDEO) {
        const uint32_t size = uint32_t(frame->width) << 16 | frame->height;
        if (g_postedSize[chn].exchange(size, std::memory_order_relaxed) != size) {
            if (CPluginManage *manage = CPluginManage::instance()) {
                const int width = frame->width;
                const int height = frame->height;
                LiveViewTopic *self = &manage->liveView();
                manage->context().RunInWorkerThread(
                    [self, width, height, chn] { self->onShowPTZElect(width, height, chn); });
            }
        }
    }
    return 1;
}

// ---- the streams around the playback page and a fresh login ----------------------------------------

void LiveViewTopic::stopAll()
{
    DeviceLoginInfo &info = m_ctx.mainDevice();
    // The handle table has one entry per possible channel, whatever count the
    // device reported.
    const int channels = std::min<int>(std::max(info.totalChannels, 0), kMaxChannels);
    for (int channel = 0; channel < channels; ++channel) {
        if (info.realHandles[channel] <= 0)
            continue;
        CQNConnect::GetInstance()->DisconnectChannel_V2(
            info.realHandles[channel], &LiveViewTopic::PreviewDataCallback, channelUser(channel));
        m_ctx.RunOnWindow([channel](LiveWindowFacade *widget) { widget->PreviewStop(channel); });
        info.realHandles[channel] = 0;
    }
}

void LiveViewTopic::keepForRestore(int channel, bool stop)
{
    DeviceLoginInfo &info = m_ctx.mainDevice();
    int wnd = -1;
    int stream = 0;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        wnd = widget->FindWndIndex(PlayerPage::Live, channel);
        stream = widget->GetChnStream(channel);
        if (stop)
            widget->PreviewStop(channel);
    });
    // A window outside the grid is kept as one (255) that no return reopens.
    info.restoreWnds[channel] = uint8_t(isChannel(wnd) ? wnd : 0xFF);
    info.restoreFlags[channel] = uint8_t(1 | ((stream & 1) << 1));
}

void LiveViewTopic::stopForPlayback()
{
    // The live streams stop while the playback page shows; the restore
    // lists remember them for the return.
    DeviceLoginInfo &info = m_ctx.mainDevice();
    for (int i = 0; i < kMaxChannels; ++i) {
        if (info.realHandles[i] <= 0)
            continue;
        CQNConnect::GetInstance()->DisconnectChannel_V2(
            info.realHandles[i], &LiveViewTopic::PreviewDataCallback, channelUser(i));
        keepForRestore(i, true);
        info.realHandles[i] = -1;
        info.pendingLiveStatus = 1;
    }
}

void LiveViewTopic::keepOpenForRestore()
{
    const DeviceLoginInfo &info = m_ctx.mainDevice();
    for (int i = 0; i < kMaxChannels; ++i) {
        if (info.realHandles[i] > 0)
            keepForRestore(i, false);
    }
}

void LiveViewTopic::restoreLiveChannels()
{
    DeviceLoginInfo &info = m_ctx.mainDevice();
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
            m_ctx.RunOnWindow(
                [&](LiveWindowFacade *widget) { played = widget->PreviewPlay(stream, i, wnd); });
            if (played < 0) {
                ret = Ret::WindowDecodeFailed;
            } else {
                handle = CQNConnect::GetInstance()->ConnectChanel_V2(
                    info.loginId, i, stream, &LiveViewTopic::PreviewDataCallback, channelUser(i));
                if (handle == 0)
                    handle = -1;
                if (handle < 0) {
                    m_ctx.RunOnWindow([i](LiveWindowFacade *widget) { widget->PreviewStop(i); });
                    ret = Ret::StreamFailed;
                }
            }
        }
        Json::Value &item = status[i];
        item["Ret"] = ret;
        item["Chn"] = i;
        item["Stream"] = stream;
        bool recording = false;
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { recording = widget->IsRecording(i); });
        item["Record"] = recording;
    }
    std::fill(std::begin(info.restoreFlags), std::end(info.restoreFlags), uint8_t(0));
    std::fill(std::begin(info.restoreWnds), std::end(info.restoreWnds), uint8_t(0));
    if (info.pendingLiveStatus == 1)
        m_ctx.sendEvent(event);
    info.pendingLiveStatus = 0;
}

int LiveViewTopic::snapshotChannel(int channel)
{
    int result = -1;
    // The handle table has 64 entries: other channels have nothing to snap.
    if (!isChannel(channel))
        return result;
    auto capture = [&] {
        m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { result = widget->Capture(channel, true); });
    };
    int &handle = m_ctx.mainDevice().realHandles[channel];
    if (handle > 0) {
        capture();
        return result;
    }
    int played = -1;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) { played = widget->PreviewPlay(0, channel, -1); });
    if (played < 0)
        return result;
    CQNConnect *connect = CQNConnect::GetInstance();
    const int loginId = m_ctx.mainDevice().loginId;
    int opened = connect->ConnectChanel(
        loginId, channel, 0, &LiveViewTopic::RealPlayDataCallback, channelUser(channel));
    if (opened == 0)
        opened = -1;
    handle = opened;
    if (opened > 0) {
        if (connect->RequestKeyFrame(loginId, channel, 0)) {
            QThread::msleep(unsigned(std::max(0, g_snapshotWaitMs.load())));
            capture();
        }
        connect->DisconnectChannel(opened, &LiveViewTopic::RealPlayDataCallback, channelUser(channel));
    }
    m_ctx.RunOnWindow([channel](LiveWindowFacade *widget) { widget->PreviewStop(channel); });
    handle = 0;
    return result;
}

int LiveViewTopic::RealPlayDataCallback(
    int realHandle, int dataType, const unsigned char *data, int length, void *user)
{
    Q_UNUSED(realHandle)
    const quintptr channel = reinterpret_cast<quintptr>(user);
    if (!data || length <= 0 || channel >= quintptr(kMaxChannels))
        return 1;
    if (StreamInput *input = PlayerWindow::streamInput())
        input->InputRealPlayData(int(channel), reinterpret_cast<const char *>(data), length, dataType);
    return 1;
}

// ---- window slots and live window events --------------------------------------------------------

void LiveViewTopic::ClearWndSlot(int wnd)
{
    resetWndSlot(wnd);
    m_ctx.sendEvent(showElectEvent(0));
}

int LiveViewTopic::wndShowElect(int wnd) const
{
    return isChannel(wnd) ? m_wndSlots[wnd].showElect : 0;
}

void LiveViewTopic::onChangePTZELectPage()
{
    m_ctx.sendEvent(showElectEvent(2));
}

void LiveViewTopic::onCurWndIndexChange(int nWndIndex)
{
    int channel = -1;
    LiveWndState state;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        channel = widget->GetWndChn(PlayerPage::Live, nWndIndex);
        if (channel < 0)
            return;
        state.read(widget, channel);
    });
    Json::Value event = pageEvent(PageEvent::LiveWndChanged);
    Json::Value &data = event["Data"];
    data["Channel"] = channel;
    data["Wnd"] = nWndIndex;
    state.write(data);
    m_ctx.sendEvent(event);

    // The display state belongs to the picture, that is to the channel the
    // window shows.
    m_ctx.sendEvent(showElectEvent(wndShowElect(channel)));
}

void LiveViewTopic::onShowPTZElect(int width, int height, int channel)
{
    if (!isChannel(channel))
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
    m_ctx.RunOnWindow(
        [&](LiveWindowFacade *widget) { current = widget->GetCurWndChn(PlayerPage::Live) == channel; });
    if (current)
        m_ctx.sendEvent(showElectEvent(slot.showElect));
}

void LiveViewTopic::SendWndStatus(int chn, int curChn)
{
    int page = -1;
    LiveWndState state;
    m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
        page = widget->GetCurPageIndex();
        if (page != PlayerPage::Live || !isChannel(chn))
            return;
        state.read(widget, chn);
    });
    if (page != PlayerPage::Live)
        return;
    Json::Value event = pageEvent(PageEvent::WndStatus);
    Json::Value &data = event["Data"];
    data["Chn"] = chn;
    data["CurChannel"] = curChn;
    state.write(data);
    m_ctx.sendEvent(event);
}
