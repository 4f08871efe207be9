// Playback (MainType 5): device playback by file list or by time, local
// files picked with the chooser, stop, speed, pause, seek and the playback
// windows' own functions, with the device library's playback callbacks.

#include "PlaybackTopic.h"

#include "DownloadTopic.h"
#include "LightWeightLog.h"
#include "PlayState.h"
#include "PlayWidgetFacade.h"
#include "PlaybackText.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "StreamInput.h"
#include "TextField.h"
#include "WndState.h"
#include "common/FileChooser.h"
#include "common/Json.h"

#include <QThread>
#include <QTimerEvent>
#include <QVector>

#include <climits>

namespace {

constexpr int kPlaybackWnds = 4;
// The first play port of local-file playback; its windows' channel values.
constexpr int kLocalFilePort = 128;
// The handle kept for a window that plays a local file (no device playback).
constexpr int kLocalPlayHandle = INT_MAX;
// Between the end of one file of a list and the start of the next.
constexpr unsigned long kNextFileWaitMs = 200;

bool isPlaybackWnd(int wnd)
{
    return wnd >= 0 && wnd < kPlaybackWnds;
}

// The next speed code of the cycle first..first+3, then normal (0).
int nextSpeed(int state, int first)
{
    if (state >= first && state < first + 3)
        return state + 1;
    if (state == first + 3)
        return PlayState::Playing;
    return first;
}

} // namespace

PlaybackTopic::PlaybackTopic(RequestContext &context, DownloadTopic &downloads, QObject *parent)
    : QObject(parent)
    , m_ctx(context)
    , m_downloads(downloads)
{ }

Answer PlaybackTopic::onMainMsgPlayback(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    switch (subType) {
    case PlaybackSub::ChooseLocalFile:
        chooseLocalFile(request);
        return {}; // answered when the chooser ends
    case PlaybackSub::Start:
        startPlayback(request, reply);
        break;
    case PlaybackSub::Stop:
        stopPlayback(JsonUtil::intKey(request, "Channel"), reply);
        break;
    case PlaybackSub::SetMode: {
        const int mode = JsonUtil::intKey(request, "Mode");
        m_nPlaybackMode = mode;
        const bool split = (mode == 0 || mode == 2) && m_ctx.mainDevice().totalChannels >= 2;
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
            widget->ChangeSplit(split ? 1 : 0);
            widget->SetPlaybackMode(mode != 0);
        });
        reply["Ret"] = Ret::Ok;
        break;
    }
    case PlaybackSub::Download:
        m_downloads.downloadFiles(request, reply);
        break;
    case PlaybackSub::Control:
        controlPlayback(request, reply);
        break;
    case PlaybackSub::Snapshot:
    case PlaybackSub::Sound:
    case PlaybackSub::DigitalZoom:
    case PlaybackSub::Record:
    case PlaybackSub::WindowStatus:
        playbackWindowFunction(subType, JsonUtil::intKey(request, "Channel"), reply);
        break;
    case PlaybackSub::CancelDownload:
        m_downloads.cancelDownload();
        reply["Ret"] = Ret::Ok;
        break;
    default:
        return {};
    }
    return reply;
}

// ---- starting -------------------------------------------------------------------------------

void PlaybackTopic::startPlayback(const Request &request, Json::Value &reply)
{
    m_playbackList = PlaybackList();
    const int mode = JsonUtil::intKey(request, "Mode");
    const int selectWnd = JsonUtil::intKey(request, "SelectWnd");
    const int stream = JsonUtil::intKey(request, "Stream");
    const Json::Value &infos = JsonUtil::member(request, "FileInfo");
    m_playbackList.mode = mode;
    m_playbackList.selectWnd = selectWnd;
    if (infos.isArray()) {
        for (Json::Value::ArrayIndex i = 0; i < infos.size(); ++i) {
            const Json::Value &e = infos[i];
            PlaybackFileInfo file;
            file.stream = stream;
            TextField::copy(file.beginTime, JsonUtil::stringOr(e, "BeginTime").toUtf8());
            TextField::copy(file.endTime, JsonUtil::stringOr(e, "EndTime").toUtf8());
            if (mode == 1) {
                file.channel = JsonUtil::intKey(request, "Channel");
                file.fileSize = PlaybackText::fileLength(JsonUtil::stringOr(e, "FileLength").toUtf8());
                TextField::copy(file.fileName, JsonUtil::stringOr(e, "FileName").toUtf8());
                file.window = selectWnd;
            } else {
                file.channel = JsonUtil::intKey(e, "Channel");
                file.window = JsonUtil::intKey(e, "Wnd");
                file.fileType = JsonUtil::intKey(e, "FileType");
            }
            m_playbackList.files.push_back(file);
        }
    }

    if (mode == 1) {
        reply["Ret"] = StartPlaybackByIndex(0);
        return;
    }
    if (mode != 2 || m_playbackList.files.empty()) {
        m_playbackList = PlaybackList();
        reply["Ret"] = mode == 2 ? Ret::Failed : Ret::Missing;
        return;
    }

    Json::Value status(Json::arrayValue);
    int ret = Ret::Failed;
    for (const PlaybackFileInfo &file : m_playbackList.files) {
        const int wnd = file.window;
        ret = Ret::Failed;
        if (isPlaybackWnd(wnd)) {
            closePlaybackWindow(wnd);
            int started = -1;
            m_ctx.RunOnWindow(
                [&](PlaybackWindowFacade *widget) { started = widget->StartPlayback(file.stream, wnd); });
            int handle = -1;
            if (started == 0) {
                PlaybackSlot &slot = m_playbackSlots[wnd];
                slot.channel = file.channel;
                slot.tag.window = wnd;
                slot.sequence = m_ctx.mainDevice().sequence;
                m_playbackState[wnd] = 0;
                const QString begin = QString::fromUtf8(TextField::read(file.beginTime));
                const QString end = QString::fromUtf8(TextField::read(file.endTime));
                m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
                    widget->SetPlaybackWndChn(file.channel, wnd);
                    widget->SetPlaybackTimeText(wnd, begin, end);
                });
                handle = CQNConnect::GetInstance()->BeginPlayback(m_ctx.mainDevice().loginId, file.channel, 2,
                    file, &PlaybackTopic::PlaybackDataCallback, &PlaybackTopic::PlaybackProgressCallback,
                    &slot);
            }
            m_lPlayHandle[wnd] = handle > 0 ? handle : -1;
            if (handle > 0) {
                ret = Ret::Ok;
                startProgressTimer();
            } else {
                m_playbackSlots[wnd] = PlaybackSlot();
                m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->StopPlayback(wnd); });
            }
        }
        Json::Value entry(Json::objectValue);
        entry["Ret"] = ret;
        entry["Chn"] = file.channel;
        entry["Stream"] = file.stream;
        entry["Wnd"] = wnd;
        status.append(entry);
    }
    m_playbackList = PlaybackList();

    if (isPlaybackWnd(selectWnd)) {
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->SetCurWnd(selectWnd); });
    } else {
        int cur = -1;
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { cur = widget->GetCurWndIndex(); });
        onCurWndIndexChange(cur);
    }
    reply["Ret"] = ret;
    reply["ChnStatus"] = status;
}

int PlaybackTopic::StartPlaybackByIndex(int index)
{
    if (index < 0 || index >= int(m_playbackList.files.size()))
        return Ret::Missing;
    m_playbackList.index = index;
    const PlaybackFileInfo file = m_playbackList.files[size_t(index)];
    const int wnd = file.window;
    if (!isPlaybackWnd(wnd))
        return Ret::Missing;
    closePlaybackWindow(wnd);
    const QString begin = QString::fromUtf8(TextField::read(file.beginTime));
    const QString end = QString::fromUtf8(TextField::read(file.endTime));
    int started = -1;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
        widget->SetPlaybackWndChn(file.channel, wnd);
        started = widget->StartPlayback(file.stream, wnd);
        widget->SetPlaybackTimeText(wnd, begin, end);
    });
    int ret = started == 0 ? Ret::Ok : Ret::Failed;
    int handle = -1;
    if (ret == Ret::Ok) {
        PlaybackSlot &slot = m_playbackSlots[wnd];
        slot.channel = file.channel;
        slot.tag.window = wnd;
        slot.sequence = m_ctx.mainDevice().sequence;
        m_playbackState[wnd] = 0;
        handle = CQNConnect::GetInstance()->BeginPlayback(m_ctx.mainDevice().loginId, file.channel, 1, file,
            &PlaybackTopic::PlaybackDataCallback, &PlaybackTopic::PlaybackProgressCallback, &slot);
    }
    m_lPlayHandle[wnd] = handle > 0 ? handle : -1;
    if (handle > 0) {
        startProgressTimer();
    } else {
        ret = Ret::Failed;
        m_playbackSlots[wnd] = PlaybackSlot();
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->StopPlayback(wnd); });
    }
    Json::Value event = pageEvent(PageEvent::PlaybackStarted);
    Json::Value &data = event["Data"];
    data["Ret"] = ret;
    data["Chn"] = file.channel;
    data["Stream"] = file.stream;
    data["PlayIndex"] = index;
    data["Wnd"] = wnd;
    m_ctx.sendEvent(event);
    return ret;
}

void PlaybackTopic::closePlaybackWindow(int wnd)
{
    if (!isPlaybackWnd(wnd))
        return;
    const int handle = m_lPlayHandle[wnd];
    // The window first: a port that holds the device's data back (paused)
    // lets it go when it stops, so that the device's stop can finish.
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->StopPlayback(wnd); });
    if (handle > 0 && handle != kLocalPlayHandle)
        CQNConnect::GetInstance()->EndPlayback(handle);
    m_lPlayHandle[wnd] = 0;
    m_playbackState[wnd] = 0;
    m_playbackSlots[wnd] = PlaybackSlot();
}

void PlaybackTopic::EndPlaybackBuf(int wnd)
{
    if (!isPlaybackWnd(wnd) || m_lPlayHandle[wnd] <= 0)
        return;
    playerLog("CPluginManage::EndPlaybackBuf", QStringLiteral("end lPlay[%1]").arg(m_lPlayHandle[wnd]));
    const int channel = m_playbackSlots[wnd].channel;
    closePlaybackWindow(wnd);
    StopProgressTimerIfIdle();
    SendDataEvent(channel, wnd);
    if (m_nPlaybackMode != 1)
        return;
    QThread::msleep(kNextFileWaitMs);
    const int next = m_playbackList.index + 1;
    if (next < int(m_playbackList.files.size()))
        StartPlaybackByIndex(next);
    else
        m_playbackList = PlaybackList();
}

void PlaybackTopic::StopProgressTimerIfIdle()
{
    for (int h : m_lPlayHandle) {
        if (h > 0)
            return;
    }
    stopProgressTimer();
}

int PlaybackTopic::playbackEndWindow() const
{
    // The list's window; a list of device files plays in one window.
    const size_t index = size_t(m_playbackList.index);
    if (index < m_playbackList.files.size() && isPlaybackWnd(m_playbackList.files[index].window))
        return m_playbackList.files[index].window;
    return 0;
}

// ---- stop, control, window functions ------------------------------------------------------------

void PlaybackTopic::stopPlayback(int channel, Json::Value &reply)
{
    if (!m_downloads.running()) {
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->SetPlaybackBackground(QString()); });
    }
    int wnd = -1;
    if (channel == -1) {
        for (int w = 0; w < kPlaybackWnds; ++w) {
            if (m_lPlayHandle[w] > 0)
                closePlaybackWindow(w);
        }
        stopProgressTimer();
    } else {
        m_ctx.RunOnWindow(
            [&](PlaybackWindowFacade *widget) { wnd = widget->FindWndIndex(PlayerPage::Playback, channel); });
        if (isPlaybackWnd(wnd) && m_lPlayHandle[wnd] > 0)
            closePlaybackWindow(wnd);
        StopProgressTimerIfIdle();
    }
    if (m_nPlaybackMode == 1)
        m_playbackList = PlaybackList();
    reply["Chn"] = channel;
    reply["Wnd"] = wnd;
    reply["Ret"] = Ret::Ok;
}

void PlaybackTopic::controlPlayback(const Request &request, Json::Value &reply)
{
    const int channel = JsonUtil::intKey(request, "Channel");
    const int cmd = JsonUtil::intKey(request, "Cmd");
    const int param = JsonUtil::intOr(request, "Param", 0);
    struct Target
    {
        int wnd = -1;
        int chn = -1;
    };
    QVector<Target> targets;
    m_ctx.RunInMainThread([&] {
        PlaybackWindowFacade *widget = PlayerWindow::current();
        if (channel == -1) {
            for (int w = 0; w < kPlaybackWnds; ++w)
                targets.append({ w, widget ? widget->GetWndChn(PlayerPage::Playback, w) : -1 });
        } else {
            targets.append({ widget ? widget->FindWndIndex(PlayerPage::Playback, channel) : -1, channel });
        }
    });
    const bool device = m_nPlaybackMode == 1 || m_nPlaybackMode == 2;
    Json::Value status(Json::arrayValue);
    for (const Target &t : targets) {
        const int w = t.wnd;
        bool reached = false;
        if (isPlaybackWnd(w) && m_lPlayHandle[w] > 0) {
            const int handle = m_lPlayHandle[w];
            const bool deviceCall = device && handle != kLocalPlayHandle;
            int &state = m_playbackState[w];
            // The window's new play state for a command, -1 for none.
            int wanted = -1;
            switch (cmd) {
            case PlaybackCmd::Pause:
                wanted = PlayState::Paused;
                break;
            case PlaybackCmd::Resume:
                wanted = PlayState::Playing;
                break;
            case PlaybackCmd::Slower:
                wanted = nextSpeed(state, PlayState::SlowFirst);
                break;
            case PlaybackCmd::Faster:
                wanted = nextSpeed(state, PlayState::FastFirst);
                break;
            case PlaybackCmd::StepForward:
                wanted = PlayState::StepForward;
                break;
            case PlaybackCmd::StepBackward:
                wanted = PlayState::StepBackward;
                break;
            default:
                break;
            }
            if (wanted >= 0) {
                if (deviceCall && cmd != PlaybackCmd::StepForward && cmd != PlaybackCmd::StepBackward)
                    CQNConnect::GetInstance()->SetPlaybackSpeed(handle, wanted, state);
                int now = state;
                m_ctx.RunOnWindow(
                    [&](PlaybackWindowFacade *widget) { now = widget->PlaybackControl(w, wanted); });
                state = now;
                reached = now == wanted;
            } else if (cmd == PlaybackCmd::Seek) {
                if (m_nPlaybackMode == 0) {
                    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
                        reached = widget->SetPlayPos(w, float(param) / 1000.0f) != 0;
                    });
                } else {
                    int seconds = 0;
                    m_ctx.RunOnWindow(
                        [&](PlaybackWindowFacade *widget) { seconds = widget->PositionToSeconds(w, param); });
                    if (seconds != 0 && deviceCall
                        && CQNConnect::GetInstance()->SeekPlayback(handle, seconds)) {
                        reached = true;
                        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->GetPlaybackFlag(w); });
                    }
                }
            }
        }
        const int state = isPlaybackWnd(w) ? m_playbackState[w] : 0;
        Json::Value entry(Json::objectValue);
        entry["Ret"] = reached ? Ret::Ok : Ret::Failed;
        entry["Chn"] = t.chn;
        entry["Wnd"] = w;
        entry["Status"] = PlayState::pageStatus(state, PageStatus::Stopped);
        if (MapStreamCode(state) > 0)
            entry["Mode"] = MapStreamCode(state);
        status.append(entry);
    }
    reply["Cmd"] = cmd;
    reply["Ret"] = Ret::Ok;
    reply["ChnStatus"] = status;
}

void PlaybackTopic::playbackWindowFunction(int subType, int channel, Json::Value &reply)
{
    int wnd = -1;
    m_ctx.RunOnWindow(
        [&](PlaybackWindowFacade *widget) { wnd = widget->FindWndIndex(PlayerPage::Playback, channel); });
    reply["Chn"] = channel;
    if (!isPlaybackWnd(wnd)) {
        reply["Wnd"] = -1;
        reply["Ret"] = Ret::Failed;
        return;
    }
    reply["Wnd"] = wnd;
    const bool open = m_lPlayHandle[wnd] > 0;
    int ret = Ret::Failed;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
        switch (subType) {
        case PlaybackSub::Snapshot:
            if (open && widget->Capture(wnd, false) >= 0)
                ret = Ret::Ok;
            reply["CapPath"] = widget->LoadLocalInfo().CapPath.toStdString();
            break;
        case PlaybackSub::Sound:
            if (open
                && widget->OpenSound(
                       PlayerPage::Playback, wnd, !widget->IsSoundWnd(PlayerPage::Playback, wnd))
                    == 0)
                ret = Ret::Ok;
            reply["Audio"] = widget->IsSoundWnd(PlayerPage::Playback, wnd) ? 1 : 0;
            break;
        case PlaybackSub::DigitalZoom:
            if (widget->PlaybackDigitalZoom() == 0)
                ret = Ret::Ok;
            reply["Zoom"] = widget->IsDigitalZoom(PlayerPage::Playback, wnd) ? 1 : 0;
            break;
        case PlaybackSub::Record: {
            const bool on = !widget->IsPlaybackRecording(wnd);
            if (open && widget->PlaybackRecord(wnd, on) != 0) {
                ret = Ret::Ok;
                reply["Record"] = on ? 1 : 0;
            } else {
                reply["Record"] = widget->IsPlaybackRecording(wnd) ? 1 : 0;
            }
            reply["RecPath"] = widget->LoadLocalInfo().RecPath.toStdString();
            break;
        }
        case PlaybackSub::WindowStatus: {
            PlaybackWndState state;
            state.read(widget, wnd);
            Json::Value &data = reply["Data"];
            data["Chn"] = channel;
            data["Wnd"] = wnd;
            state.write(data);
            ret = Ret::Ok;
            break;
        }
        default:
            break;
        }
    });
    reply["Ret"] = ret;
}

// ---- local files ----------------------------------------------------------------------------------

void PlaybackTopic::chooseLocalFile(const Request &request)
{
    const Json::Value skeleton = pageReply(request);
    FileChooser::start(m_ctx.worker(), FileChooser::programPath(RequestContext::appFolder()),
        { QStringLiteral("3"), QStringLiteral("1") }, [this, skeleton](const FileChooser::Answer &answer) {
            Json::Value reply = skeleton;
            int ret = Ret::Failed;
            if (answer.ok)
                PlayLocalFile(reply, answer.path, ret);
            reply["Ret"] = ret;
            m_ctx.sendReply(reply);
        });
}

void PlaybackTopic::PlayLocalFile(Json::Value &reply, const QString &path, int &ret)
{
    if (path.isEmpty()) {
        reply["Path"] = "";
        return;
    }
    int wnd = -1;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { wnd = widget->GetCurWndIndex(); });
    reply["Wnd"] = wnd;
    if (!isPlaybackWnd(wnd))
        return;
    closePlaybackWindow(wnd);
    int started = -1;
    m_ctx.RunInMainThread([&] {
        PlaybackWindowFacade *widget = PlayerWindow::current();
        if (!widget || !widget->BeginLocalPlay(wnd, path, &PlaybackTopic::LocalPlayEndCallback, this))
            return;
        started = widget->StartPlayback(0, wnd);
        widget->SetPlaybackWndChn(kLocalFilePort + wnd, wnd);
    });
    if (started != 0) {
        m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->StopPlayback(wnd); });
        return;
    }
    ret = Ret::Ok;
    m_lPlayHandle[wnd] = kLocalPlayHandle;
    m_playbackSlots[wnd].channel = kLocalFilePort + wnd;
    m_playbackSlots[wnd].tag.window = wnd;
    startProgressTimer();
}

// ---- device callbacks -------------------------------------------------------------------------------

int PlaybackTopic::PlaybackDataCallback(
    int playHandle, int dataType, const unsigned char *data, int length, void *user)
{
    Q_UNUSED(playHandle)
    Q_UNUSED(dataType)
    const auto *slot = static_cast<const PlaybackSlot *>(user);
    if (!slot || slot->tag.kind != PositionUser::Playback || slot->tag.window < 0)
        return -1;
    if (StreamInput *input = PlayerWindow::streamInput())
        input->InputPlaybackData(slot->tag.window, reinterpret_cast<const char *>(data), length);
    return 1;
}

void PlaybackTopic::PlaybackProgressCallback(int handle, int total, int position, void *user)
{
    CPluginManage *manage = CPluginManage::instance();
    if (!user || !manage)
        return;
    const PositionUser tag = *static_cast<const PositionUser *>(user);
    PlaybackTopic *self = &manage->playback();
    DownloadTopic *downloads = &manage->downloads();
    manage->context().RunInWorkerThread([self, downloads, handle, total, position, tag] {
        // A report that was on its way when its playback or download ended
        // belongs to nothing any more.
        if (tag.kind == PositionUser::Playback) {
            if (!isPlaybackWnd(tag.window) || self->m_lPlayHandle[tag.window] != handle)
                return;
            self->OnProgressCallback(handle, total, position, tag.window);
        } else if (downloads->downloadHandle() == handle) {
            downloads->OnProgressCallback(handle, total, position, tag.kind);
        }
    });
}

void PlaybackTopic::LocalPlayEndCallback(int port, void *user)
{
    auto *self = static_cast<PlaybackTopic *>(user);
    if (!self)
        return;
    const int wnd = port >= kLocalFilePort && port < kLocalFilePort + 4 ? port - kLocalFilePort : -1;
    self->m_ctx.RunInWorkerThread([self, port, wnd] { self->SendDataEvent(port, wnd); });
}

// ---- events, page changes -------------------------------------------------------------------------

int PlaybackTopic::MapStreamCode(int code)
{
    if (code >= PlayState::SlowFirst && code <= PlayState::SlowLast)
        return code - PlayState::SlowFirst + 1;
    if (code >= PlayState::FastFirst && code <= PlayState::FastLast)
        return code - PlayState::FastFirst + 1;
    return -1;
}

void PlaybackTopic::onCurWndIndexChange(int nWndIndex)
{
    PlaybackWndState state;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { state.read(widget, nWndIndex); });
    int mode = -1;
    if ((state.status == PageStatus::Slow || state.status == PageStatus::Fast) && isPlaybackWnd(nWndIndex))
        mode = MapStreamCode(m_playbackState[nWndIndex]);
    Json::Value event = pageEvent(PageEvent::PlaybackWndChanged);
    Json::Value &data = event["Data"];
    data["Wnd"] = nWndIndex;
    state.write(data);
    data["Mode"] = mode;
    m_ctx.sendEvent(event);
}

void PlaybackTopic::SendDataEvent(int chn, int wnd)
{
    Json::Value event = pageEvent(PageEvent::PlaybackEnded);
    event["Data"]["Chn"] = chn;
    event["Data"]["Wnd"] = wnd;
    m_ctx.sendEvent(event);
}

void PlaybackTopic::OnProgressCallback(int handle, int total, int current, int wnd)
{
    Q_UNUSED(handle)
    Q_UNUSED(total)
    Q_UNUSED(current)
    if (!isPlaybackWnd(wnd))
        return;
    if (m_nPlaybackMode == 1)
        startPlaybackEndTimer();
    else
        EndPlaybackBuf(wnd);
}

void PlaybackTopic::leavePage()
{
    for (int wnd = 0; wnd < kPlaybackWnds; ++wnd) {
        if (m_lPlayHandle[wnd] > 0)
            closePlaybackWindow(wnd);
    }
    stopProgressTimer();
    stopPlaybackEndTimer();
    const bool downloading = m_downloads.running();
    m_downloads.cancelDownload();
    if (!downloading)
        m_ctx.RunOnWindow([](PlaybackWindowFacade *widget) { widget->SetPlaybackBackground(QString()); });
}

void PlaybackTopic::closeAll()
{
    for (int wnd = 0; wnd < kPlaybackWnds; ++wnd) {
        if (m_lPlayHandle[wnd] > 0)
            closePlaybackWindow(wnd);
    }
}

// ---- timers ---------------------------------------------------------------------------------------

void PlaybackTopic::startProgressTimer()
{
    if (!m_nProgressTimerId)
        m_nProgressTimerId = startTimer(1000);
}

void PlaybackTopic::startPlaybackEndTimer()
{
    if (!m_nPlaybackEndTimerId)
        m_nPlaybackEndTimerId = startTimer(1000);
}

void PlaybackTopic::stopProgressTimer()
{
    if (m_nProgressTimerId)
        killTimer(m_nProgressTimerId);
    m_nProgressTimerId = 0;
}

void PlaybackTopic::stopPlaybackEndTimer()
{
    if (m_nPlaybackEndTimerId)
        killTimer(m_nPlaybackEndTimerId);
    m_nPlaybackEndTimerId = 0;
}

void PlaybackTopic::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_nProgressTimerId)
        sendPlaybackProgress();
    else if (event->timerId() == m_nPlaybackEndTimerId)
        checkPlaybackEnd();
}

void PlaybackTopic::sendPlaybackProgress()
{
    struct WindowTime
    {
        int chn = -1;
        float time = 0;
    };
    int page = -1;
    int curWnd = -1;
    WindowTime cur;
    WindowTime windows[4];
    const int mode = m_nPlaybackMode;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) {
        page = widget->GetCurPageIndex();
        if (page != PlayerPage::Playback)
            return;
        if (mode == 0 || mode == 1) {
            curWnd = widget->GetCurWndIndex();
            cur.chn = widget->GetCurWndChn(PlayerPage::Playback);
            cur.time = widget->GetPlayTime(curWnd);
        } else if (mode == 2) {
            for (int i = 0; i < 4; ++i) {
                windows[i].chn = widget->GetWndChn(PlayerPage::Playback, i);
                if (windows[i].chn >= 0)
                    windows[i].time = widget->GetPlayTime(i);
            }
        }
    });
    if (page != PlayerPage::Playback)
        return;

    auto sendProgress = [this](int wnd, const Json::Value &pos) {
        Json::Value event = pageEvent(PageEvent::PlaybackProgress);
        event["Data"]["wnd"] = wnd;
        if (!pos.isNull())
            event["Data"]["pos"] = pos;
        m_ctx.sendEvent(event);
    };
    if (mode == 0 || mode == 1) {
        sendProgress(curWnd, cur.chn < 0 ? 0.0 : double(cur.time) * 1000.0);
    } else if (mode == 2) {
        for (int i = 0; i < 4; ++i)
            sendProgress(i, windows[i].chn < 0 ? Json::Value() : Json::Value(double(windows[i].time)));
    }
}

void PlaybackTopic::checkPlaybackEnd()
{
    const int wnd = playbackEndWindow();
    int yuv = -1;
    int buf = -1;
    m_ctx.RunOnWindow([&](PlaybackWindowFacade *widget) { widget->GetPlaybackBufInfo(wnd, &yuv, &buf); });
    playerLog("CPluginManage::timerEvent", QStringLiteral("lYuvVal=%1 lBufVal=%2").arg(yuv).arg(buf));
    if (yuv > 0 || buf > 0)
        return;
    stopPlaybackEndTimer();
    EndPlaybackBuf(wnd);
}
