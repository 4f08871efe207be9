#pragma once

#include "PlaybackFile.h"
#include "RequestContext.h"

#include <QObject>

#include <cstdint>
#include <vector>

class DownloadTopic;

// Playback (MainType 5 but downloads): device playback by file list or by
// time, local files picked with the chooser, stop, speed, pause, seek and the
// playback windows' own functions, with the position and playback-end
// timers and the playback window events. A child of the request manager on
// its worker thread, except the data callbacks.
class PlaybackTopic : public QObject
{
public:
    PlaybackTopic(RequestContext &context, DownloadTopic &downloads, QObject *parent);

    Answer onMainMsgPlayback(const Request &request);

    // Speed step of a playback speed code: 16/32 -> 1 ... 19/35 -> 4, else -1.
    static int MapStreamCode(int code);

    // Leaving the playback page: playbacks, their timers and downloads end.
    void leavePage();
    // Ends every window's playback (logout).
    void closeAll();
    // The playback page's current window changed.
    void onCurWndIndexChange(int nWndIndex);
    // The end of a local-file playback in playback window `wnd`.
    void SendDataEvent(int chn, int wnd);
    // A playback's position report (the handle is not used).
    void OnProgressCallback(int handle, int total, int current, int wnd);
    // Ends the playback of a window whose stream has been played out.
    void EndPlaybackBuf(int wnd);

    // The 1000 ms timers: progress events, and the end of a list's file.
    void startProgressTimer();
    void startPlaybackEndTimer();
    void stopProgressTimer();
    void stopPlaybackEndTimer();
    bool progressTimerRunning() const { return m_nProgressTimerId != 0; }
    bool playbackEndTimerRunning() const { return m_nPlaybackEndTimerId != 0; }
    void setPlaybackMode(int mode) { m_nPlaybackMode = mode; }
    // The device playback handle and the speed code in force of a window.
    int &playbackHandle(int wnd) { return m_lPlayHandle[wnd]; }
    int &playbackState(int wnd) { return m_playbackState[wnd]; }

    // Device library callbacks: the user value is a window's PlaybackSlot,
    // or the DownloadRecord for a download's position.
    static int PlaybackDataCallback(
        int playHandle, int dataType, const unsigned char *data, int length, void *user);
    static void PlaybackProgressCallback(int handle, int total, int position, void *user);
    // The play library played a local file to its end; `user` is the topic.
    static void LocalPlayEndCallback(int port, void *user);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void startPlayback(const Request &request, Json::Value &reply);
    void stopPlayback(int channel, Json::Value &reply);
    void controlPlayback(const Request &request, Json::Value &reply);
    void playbackWindowFunction(int subType, int channel, Json::Value &reply);
    void chooseLocalFile(const Request &request);
    int StartPlaybackByIndex(int index);
    // Ends the device playback and the window of `wnd` when one is open.
    void closePlaybackWindow(int wnd);
    void StopProgressTimerIfIdle();
    // The window whose buffers tell the end of a list's file.
    int playbackEndWindow() const;
    void PlayLocalFile(Json::Value &reply, const QString &path, int &ret);
    void sendPlaybackProgress();
    void checkPlaybackEnd();

    struct PlaybackList
    {
        int mode = 0;
        int selectWnd = 0;
        int index = 0;
        std::vector<PlaybackFileInfo> files;
    };

    RequestContext &m_ctx;
    DownloadTopic &m_downloads;
    PlaybackSlot m_playbackSlots[4];
    PlaybackList m_playbackList;
    int m_lPlayHandle[4] = {};
    int m_playbackState[4] = {};
    int m_nProgressTimerId = 0;
    int m_nPlaybackEndTimerId = 0;
    int m_nPlaybackMode = 0;
};
