#pragma once

// A window side for the request manager's tests: answers from fields and
// records every call with its arguments and the thread it ran on.

#include "PlayWidgetFacade.h"
#include "RuleRegionInfo.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <mutex>

// Emits the window's signals in place of the real window.
class PlayWidgetSignals : public QObject
{
    Q_OBJECT

signals:
    void curWndIndexSig(int nPageId, int nWndIndex);
    void changePTZELectPage();
};

class RecordingPlayWidget : public PlayWidgetFacade
{
public:
    struct Call
    {
        QString name;
        QVariantList args;
        Qt::HANDLE thread = nullptr;
    };

    // Answers.
    int page = 1;
    int curWnd = 2;
    int curChn = 3;
    int wndChn[4] = { 0, -1, 5, -1 };
    float playTime[4] = { 1.5f, 2.0f, 2.5f, 3.0f };
    QList<QPair<int, int>> bufInfo; // answers of GetPlaybackBufInfo, in turn
    quint64 renderWnd = 0;
    int liveWndChn = 7; // GetWndChn on the live page
    int color[4] = { 11, 22, 33, 44 };
    bool sound = true;
    bool zoom = false;
    int original = 1;
    int playState = 5;
    bool playbackStatus[3] = { true, false, true }; // recording, zoom, sound

    PlayWidgetSignals emitter;

    // A live page to go with the answers: when set, PreviewPlay and
    // PreviewStop keep a window-to-channel table, the sound and the
    // recordings, and the live page's getters answer from them.
    bool trackLive = false;
    int liveTable[64];
    int soundChannel = -1;
    bool recording[64] = {};
    QList<int> failPlay; // channels whose PreviewPlay fails
    int chnStream[64] = {}; // stream type a channel was played with (trackLive)
    QHash<int, int> wndOfChannel; // FindWndIndex answers that differ from the channel
    RuleRegionInfo lastRule; // the last SetRuleRegionInfo record
    int openSoundResult = 0;
    int recordResult = 0;
    bool setColorResult = true;
    int playOriginalResult = 0;
    bool previewStatusResult = true;

    // Stream data: counted per channel; recorded as calls only while asked.
    std::atomic<bool> recordInput { true };
    std::atomic<int> inputCount[64] = {};
    std::atomic<Qt::HANDLE> inputThread[64] = {};

    RecordingPlayWidget()
    {
        for (int &c : liveTable)
            c = -1;
    }
    int inputs(int channel) const { return inputCount[channel].load(); }

    QList<Call> calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    QStringList names() const
    {
        QStringList out;
        for (const Call &c : calls())
            out.append(c.name);
        return out;
    }
    // Calls described as "Name(args)", in order; of one method or of all.
    QStringList described(const QString &only = QString()) const
    {
        QStringList out;
        for (const Call &c : calls()) {
            if (!only.isEmpty() && c.name != only)
                continue;
            QStringList args;
            for (const QVariant &a : c.args)
                args.append(a.toString());
            out.append(c.name + QLatin1Char('(') + args.join(QLatin1Char(',')) + QLatin1Char(')'));
        }
        return out;
    }
    QStringList callsOf(const QString &name) const { return described(name); }
    bool allOnThread(Qt::HANDLE thread) const
    {
        for (const Call &c : calls()) {
            if (c.thread != thread)
                return false;
        }
        return true;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }

    int GetCurPageIndex() override { return record("GetCurPageIndex", {}, page); }
    int GetCurWndIndex() override { return record("GetCurWndIndex", {}, curWnd); }
    int GetCurWndChn(int type) override
    {
        const bool live = trackLive && (type == 0 || (type == 5 && page == 0));
        return record("GetCurWndChn", { type }, live ? liveChn(curWnd) : curChn);
    }
    int GetWndChn(int p, int wnd) override
    {
        const int live = trackLive ? liveChn(wnd) : liveWndChn;
        return record("GetWndChn", { p, wnd }, p == 0 ? live : (wnd >= 0 && wnd < 4 ? wndChn[wnd] : -1));
    }
    float GetPlayTime(int wnd) override
    {
        record("GetPlayTime", { wnd }, 0);
        return playTime[wnd];
    }
    void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) override
    {
        record("GetPlaybackBufInfo", { wnd }, 0);
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto v = bufInfo.size() > 1 ? bufInfo.takeFirst() : bufInfo.value(0);
        *yuv = v.first;
        *buf = v.second;
    }
    void GetColor(int channel, int *b, int *c, int *s, int *h) override
    {
        record("GetColor", { channel }, 0);
        *b = color[0];
        *c = color[1];
        *s = color[2];
        *h = color[3];
    }
    bool IsSoundWnd(int p, int index) override
    {
        return record("IsSoundWnd", { p, index }, trackLive ? index == soundChannel : sound);
    }
    bool IsDigitalZoom(int p, int index) override { return record("IsDigitalZoom", { p, index }, zoom); }
    int GetPlayOriginalState(int channel) override
    {
        return record("GetPlayOriginalState", { channel }, original);
    }
    int GetPlayState(int p, int index) override { return record("GetPlayState", { p, index }, playState); }
    void GetPlaybackWndStatus(int wnd, bool *recording, bool *z, bool *s) override
    {
        record("GetPlaybackWndStatus", { wnd }, 0);
        *recording = playbackStatus[0];
        *z = playbackStatus[1];
        *s = playbackStatus[2];
    }

    quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) override
    {
        record("ErgodicAllChild", { browserWnd, browseType, depth }, 0);
        return renderWnd;
    }
    void SetBrowserWnd(quint64 browserWnd, quint64 render, const QString &title, int browseType) override
    {
        record("SetBrowserWnd", { browserWnd, render, title, browseType }, 0);
    }
    void SetSkin(const QString &skin) override { record("SetSkin", { skin }, 0); }
    void SetDeviceInfo(int loginId, bool ipc) override { record("SetDeviceInfo", { loginId, ipc }, 0); }
    void SetPageIndex(int p) override { record("SetPageIndex", { p }, 0); }
    int ChangeSplit(int layoutIndex) override { return record("ChangeSplit", { layoutIndex }, 0); }
    void StopPlayback(int wnd) override { record("StopPlayback", { wnd }, 0); }
    void PreviewStop(int channel) override
    {
        record("PreviewStop", { channel }, 0);
        if (!trackLive || channel < 0 || channel >= 64)
            return;
        for (int &c : liveTable) {
            if (c == channel)
                c = -1;
        }
        recording[channel] = false;
        if (soundChannel == channel)
            soundChannel = -1;
    }
    void ColorPreviewStop() override { record("ColorPreviewStop", {}, 0); }
    void onWidgetStatuChange(int type, int left, int top, int width, int height) override
    {
        record("onWidgetStatuChange", { type, left, top, width, height }, 0);
    }
    void releaseInstance() override { record("releaseInstance", {}, 0); }
    QObject *signalSource() override { return &emitter; }

    // The rest of the window answers with the fields above or neutral values.
    int previewPlayResult = 0;
    int captureResult = 0;
    int startPlaybackResult = 0;
    LocalInfo localInfo;
    // The user value of the last conversion started.
    std::atomic<void *> convertUser { nullptr };

    void onFullScreen() override { record("onFullScreen", {}, 0); }
    LocalInfo LoadLocalInfo() override
    {
        record("LoadLocalInfo", {}, 0);
        return localInfo;
    }
    int FindWndIndex(int p, int channel) override
    {
        int wnd = trackLive ? -1 : channel;
        for (int w = 0; trackLive && wnd < 0 && w < 64; ++w)
            wnd = liveTable[w] == channel ? w : -1;
        return record("FindWndIndex", { p, channel }, wndOfChannel.value(channel, wnd));
    }
    int OpenSound(int p, int index, bool on) override
    {
        if (trackLive && openSoundResult == 0)
            soundChannel = on ? index : (soundChannel == index ? -1 : soundChannel);
        return record("OpenSound", { p, index, on }, openSoundResult);
    }
    int Capture(int index, bool live) override { return record("Capture", { index, live }, captureResult); }
    int PreviewPlay(int streamType, int channel, int wnd) override
    {
        const int result = failPlay.contains(channel) ? -2 : previewPlayResult;
        if (trackLive && result >= 0) {
            const int w = wnd == -1 ? curWnd : wnd;
            if (w >= 0 && w < 64)
                liveTable[w] = channel;
            if (channel >= 0 && channel < 64)
                chnStream[channel] = streamType;
        }
        return record("PreviewPlay", { streamType, channel, wnd }, result);
    }
    int InputRealPlayData(int channel, const char *, int length, int dataType) override
    {
        if (channel >= 0 && channel < 64) {
            inputCount[channel].fetch_add(1);
            inputThread[channel].store(QThread::currentThreadId());
        }
        if (!recordInput.load())
            return 0;
        return record("InputRealPlayData", { channel, length, dataType }, 0);
    }
    bool SetColor(int component, int value) override
    {
        return record("SetColor", { component, value }, setColorResult);
    }
    int GetChnStream(int channel) override
    {
        return record(
            "GetChnStream", { channel }, trackLive && channel >= 0 && channel < 64 ? chnStream[channel] : 0);
    }
    bool IsRecording(int channel) override
    {
        const bool on = trackLive && channel >= 0 && channel < 64 && recording[channel];
        return record("IsRecording", { channel }, on);
    }
    int Record(int channel, bool on, bool *out) override
    {
        if (trackLive && recordResult == 0 && channel >= 0 && channel < 64)
            recording[channel] = on;
        *out = trackLive ? (channel >= 0 && channel < 64 && recording[channel]) : on;
        return record("Record", { channel, on }, recordResult);
    }
    int PlayOriginal(int channel) override { return record("PlayOriginal", { channel }, playOriginalResult); }
    bool SetPreviewStatus(int channel) override
    {
        return record("SetPreviewStatus", { channel }, previewStatusResult);
    }
    bool PTZElectOpen(int channel, int wnd) override
    {
        return record("PTZElectOpen", { channel, wnd }, true);
    }
    bool PTZElectPresent(int channel, int command, int preset) override
    {
        return record("PTZElectPresent", { channel, command, preset }, true);
    }
    bool PTZElectRedu(int channel) override { return record("PTZElectRedu", { channel }, true); }
    bool PTZElectZoomIn(int channel, int step) override
    {
        return record("PTZElectZoomIn", { channel, step }, true);
    }
    bool PTZElectZoomOut(int channel, int step) override
    {
        return record("PTZElectZoomOut", { channel, step }, true);
    }
    bool PTZElectronicMove(int channel, int direction, int step) override
    {
        return record("PTZElectronicMove", { channel, direction, step }, true);
    }
    void ScaleSwitch(int type, int speed) override { record("ScaleSwitch", { type, speed }, 0); }
    void SetRuleRegionInfo(int mode, const RuleRegionInfo &rule, int *) override
    {
        lastRule = rule;
        record("SetRuleRegionInfo", { mode }, 0);
    }
    void SetPlaybackMode(bool device) override { record("SetPlaybackMode", { device }, 0); }
    int StartPlayback(int openParameter, int wnd) override
    {
        return record("StartPlayback", { openParameter, wnd }, startPlaybackResult);
    }
    int InputPlaybackData(int wnd, const char *, int length) override
    {
        return record("InputPlaybackData", { wnd, length }, 0);
    }
    int BeginLocalPlay(int wnd, const QString &fileName, FileEndCallback, void *) override
    {
        return record("BeginLocalPlay", { wnd, fileName }, 0);
    }
    void SetPlaybackWndChn(int channel, int wnd) override
    {
        record("SetPlaybackWndChn", { channel, wnd }, 0);
    }
    void SetPlaybackTimeText(int wnd, const QString &start, const QString &end) override
    {
        record("SetPlaybackTimeText", { wnd, start, end }, 0);
    }
    void SetCurWnd(int wnd) override { record("SetCurWnd", { wnd }, 0); }
    int PlaybackControl(int wnd, int command) override
    {
        return record("PlaybackControl", { wnd, command }, 0);
    }
    int SetPlayPos(int wnd, float position) override { return record("SetPlayPos", { wnd, position }, 1); }
    int PositionToSeconds(int wnd, int perMille) override
    {
        return record("PositionToSeconds", { wnd, perMille }, 0);
    }
    bool GetPlaybackFlag(int wnd) override { return record("GetPlaybackFlag", { wnd }, false); }
    bool IsPlaybackRecording(int wnd) override { return record("IsPlaybackRecording", { wnd }, false); }
    int PlaybackRecord(int wnd, bool on) override { return record("PlaybackRecord", { wnd, on }, 0); }
    int PlaybackDigitalZoom() override { return record("PlaybackDigitalZoom", {}, 0); }
    void SetPlaybackBackground(const QString &picture) override
    {
        record("SetPlaybackBackground", { picture }, 0);
    }
    int ColorPreviewStart(int streamType) override { return record("ColorPreviewStart", { streamType }, 0); }
    int InputColorSetData(const char *, int length) override
    {
        return record("InputColorSetData", { length }, 0);
    }
    bool ChangeFileFormat(
        const QString &source, const QString &target, int type, ConvertProgressCallback, void *user) override
    {
        convertUser = user;
        return record("ChangeFileFormat", { source, target, type }, true);
    }

private:
    int liveChn(int wnd) const { return wnd >= 0 && wnd < 64 ? liveTable[wnd] : -1; }

    template<class T> T record(const char *name, QVariantList args, T value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.append({ QString::fromLatin1(name), std::move(args), QThread::currentThreadId() });
        return value;
    }

    // A standard mutex, which the thread checker sees (the library threads
    // record stream data).
    mutable std::mutex m_mutex;
    QList<Call> m_calls;
};
