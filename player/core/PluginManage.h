#pragma once

#include "DeviceLoginInfo.h"
#include "PlaybackFile.h"
#include "TalkControl.h"
#include "common/PageMessage.h"

#include "kestrix/kestrix.h"

#include <json/value.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class CGetSystemStatus;
class PlayWidgetFacade;
class StreamInput;
class StreamInput;
class QThread;

// The player's request manager. It lives on a worker thread of its own,
// receives every request of the page, dispatches it by "MainType" to one
// handler and sends replies and events back over the local link. Window work
// is handed to the GUI thread as function objects.
class CPluginManage : public QObject
{
    Q_OBJECT

public:
    using Request = Json::Value;
    using PlayWidgetProvider = std::function<PlayWidgetFacade *()>;
    using StreamInputProvider = std::function<StreamInput *()>;

    // Requests are parsed from at most this many bytes of UTF-8.
    static constexpr int kMaxRequestBytes = 65536;

    // Must run on the GUI thread; moves the object to its worker thread.
    CPluginManage(const QString &browserWnd, int sessionId, QObject *parent = nullptr);
    ~CPluginManage() override;

    // The one request manager of the process (null before it is made).
    static CPluginManage *instance();
    static bool isGuiThread();

    // Where window calls go; set once the window side exists (tests set a double).
    // The player's provider gives the window (made on first use) on the GUI
    // thread and nothing on any other.
    static void setPlayWidgetProvider(PlayWidgetProvider provider);
    static PlayWidgetFacade *playWidget();
    // Where calls go that only concern a window already made (the logout's):
    // it never makes one. Unset, playWidget() serves.
    static void setExistingPlayWidgetProvider(PlayWidgetProvider provider);
    static PlayWidgetFacade *existingPlayWidget();
    // What makes the voice talks (the window side's CTalk); none: talks fail.
    static void setTalkFactory(TalkControl::Factory factory);
    // Where the device library's threads put stream data. Without a provider
    // of its own, the window provider's facade takes the data.
    static void setStreamInputProvider(StreamInputProvider provider);
    static StreamInput *streamInput();

    // Runs `task` on the GUI thread and returns once it has run.
    void RunInMainThread(std::function<void(void)> task);
    // Runs `task` with the window on the GUI thread and returns once it has
    // run; does nothing when there is no window.
    void RunOnWindow(const std::function<void(PlayWidgetFacade *widget)> &task);
    // Posts `task` to the GUI thread without waiting.
    void RunInMainThreadAsync(std::function<void(void)> task);
    // Runs `task` on the worker thread (used by library callbacks).
    void RunInWorkerThread(std::function<void(void)> task);

    // Logs (when asked) and sends one message to the page, from any thread.
    void sendWebSocketMsg(const QString &msg, bool log = true);
    // The reply envelope of `request`: "Msg", "SubMsg" and "MsgID" copied
    // (null when absent); the caller adds "Ret" and its keys.
    static Json::Value makeReply(const Request &request) { return pageReply(request); }
    void sendReply(const Json::Value &reply);

    // Ends the worker thread (at exit), letting pending GUI tasks run meanwhile.
    void stopWorker();

    QThread *workerThread() const { return m_thread; }
    CGetSystemStatus *systemStatus() const { return m_pSystemStatus; }
    int sessionId() const { return m_nSessionId; }
    QString browserWnd() const { return m_strBrowserWnd; }
    // Worker thread only.
    DeviceLoginInfo &mainDevice() { return m_mainDevice; }
    // The error number of the last failed login.
    int lastLoginError() const { return m_nLastError; }
    // Playback handles of the four playback windows and the download handle
    // (worker thread only; the playback and download requests open them).
    int &playbackHandle(int wnd) { return m_lPlayHandle[wnd]; }
    int &downloadHandle() { return m_lDownloadHandle; }
    // The speed code in force in a playback window.
    int &playbackState(int wnd) { return m_playbackState[wnd]; }
    // A temporary file that the logout deletes.
    void setTempFilePath(const QString &path) { m_strTempFilePath = path; }
    QString tempFilePath() const { return m_strTempFilePath; }
    // "WebType" and "SampleRate_16" of the last login.
    QString webType() const { return m_strWebType; }
    bool sampleRate16() const { return m_bSampleRate16; }

    // Logs in to the main device as its record says: 100, 1020 without a
    // device wrapper, else the wrapper's code.
    int loginDev();
    // Stops every stream and logs out of every device.
    void logoutDev();

    // The window slot of a grid window: the last video size and its
    // electronic-PTZ display state. Zeroes the slot of a window 0..63 and
    // always reports {"MainEvent":0,"SubEvent":6,"nShowElect":0}.
    void ClearWndSlot(int wnd);
    int wndShowElect(int wnd) const;
    // Speed step of a playback speed code: 16/32 -> 1 ... 19/35 -> 4, else -1.
    static int MapStreamCode(int code);

    // The 32-bit player checks before opening live channels that the memory
    // left in its address space can hold them; the 64-bit player has no such
    // limit and skips the check.
    static constexpr bool kLiveMemoryCheck = sizeof(void *) == 4;
    // How many more live channels of `streamType` fit: the remaining memory
    // (at most 1024 MiB) less the player's own, over 40 MiB per main stream
    // or 25 MiB per other stream.
    static int LiveChannelBudget(int remainMiB, int appMiB, int streamType);

    // Events of the windows and the device (worker thread).
    // A channel's live pictures have this size: keeps it in the channel's
    // window slot and reports a change of the electronic-PTZ display.
    void onShowPTZElect(int width, int height, int channel);
    // Reports the state of live channel `chn` with the current window's
    // channel as {"MainEvent":0,"SubEvent":2,...}, on the live page only.
    void SendWndStatus(int chn, int curChn);
    // The end of a local-file playback in playback window `wnd`.
    void SendDataEvent(int chn, int wnd);
    // Position of a playback (kind 0) or download (1 records, 2 pictures).
    void OnProgressCallback(int handle, int total, int current, int kind, int wnd);
    void OnUpgradeProgress(int upgradeHandle, int status, int totalSize, int sendSize);
    // A download's position in per mille: 1000 for the finished mark -1,
    // else current / total clamped to 0..1000; -1 without a total.
    static int DownloadPosition(int total, int current);

    // True while an upgrade that this player started runs (the upgrade
    // requests set it; its end clears it).
    bool isUpgrading() const { return m_bUpgrading; }
    void setUpgrading(bool upgrading) { m_bUpgrading = upgrading; }
    // The custom voice file request that a later transfer result answers.
    void keepVoiceFileRequest(int subType, int msgId);

    // Talk and custom alarm voice (worker thread).
    // Ends the running talk, if any; true when one ran.
    bool stopTalk();
    bool talkRunning() const { return m_pTalk != nullptr; }
    // Sends the recorded alarm voice to the main device: 0 sent, -2 no file,
    // -3 an empty file, -4 the device refused it. Channel 255 means -1.
    int UploadCustomAlarmVoice(int channel, int filePurpose);
    // The device's answer to an uploaded alarm voice (device-library thread).
    static void VoiceFileSendCallback(int transferHandle, int state, int code, void *user);

    // Writes a 16-character session key into `buffer` (at least 17 bytes, zeroed).
    static void MakeRandomString(char *buffer);
    int SetDevRecordEncryptKey(int loginId, int key);

    // Device library callbacks; the user value is the request manager (the
    // channel for live data). They run on the library's threads.
    static void DisconnectFunction(int loginId, const char *address, int port, void *user);
    static int AlarmMessageCallback(
        int loginId, const char *buffer, unsigned int length, void *user, int kind, int reserved);
    static int PreviewDataCallback(int realHandle, const TRV_FRAME_INFO *frame, void *user);
    static int ColorPreviewDataCallback(
        int realHandle, int dataType, const unsigned char *data, int length, void *user);
    // Live data of a channel opened for a snapshot; the user value is the channel.
    static int RealPlayDataCallback(
        int realHandle, int dataType, const unsigned char *data, int length, void *user);
    // Progress of an upgrade; the user value is the manager.
    static void UpgradeProgressCallback(
        int upgradeHandle, int status, int totalSize, int sendSize, void *user);
    // The device's answer to a custom voice file sent to it.
    static void SDKResultCallback(int transferHandle, int state, int code, void *user);
    // The play library played a local file to its end; `user` is the manager.
    static void LocalPlayEndCallback(int port, void *user);

    // Playback and downloads (MainType 5). Device library callbacks: the
    // user value is a window's PlaybackSlot or the DownloadRecord.
    static int PlaybackDataCallback(
        int playHandle, int dataType, const unsigned char *data, int length, void *user);
    static void PlaybackProgressCallback(int handle, int total, int position, void *user);
    // The play library's conversion progress; `user` is the manager.
    static void ConvertFilePosCallback(int64_t current, int64_t total, void *user);

    // The dispatcher's 1000 ms timers, run by the playback and download requests.
    void startProgressTimer();
    void startPlaybackEndTimer();
    void stopProgressTimer();
    void stopPlaybackEndTimer();
    bool progressTimerRunning() const { return m_nProgressTimerId != 0; }
    bool playbackEndTimerRunning() const { return m_nPlaybackEndTimerId != 0; }
    void setPlaybackMode(int mode) { m_nPlaybackMode = mode; }

    // The folder of "ClientCfg.ini", "QuorvelToolVersion.ini", "NewVersion.ini"
    // and the file chooser: the program's own folder unless set (tests).
    static void setAppFolder(const QString &folder);
    static QString appFolder();
    // How long the snapshot of a channel opened for it waits after the key
    // frame request (2000 ms).
    static void setSnapshotWaitMs(int ms);
    // How long the tool's version check waits for the server (60000 ms).
    static void setVersionCheckTimeoutMs(int ms);

    // True when dotted version `a` is higher than `b`: four numeric fields
    // compared in turn, a missing or non-numeric field counting as 0; an
    // empty `a` is never higher, any `a` is higher than an empty `b`.
    static bool CompareVersion(const QString &a, const QString &b);
    // Registers an application identity and user data with the device
    // library (no request kind reaches it).
    void onMainMsgInitSDKInfo(const Request &request);

    // The figures of the last CPU and memory event.
    int lastAppCpu() const { return m_nLastAppCpu; }
    int lastSystemCpu() const { return m_nLastSystemCpu; }
    int lastAppMemory() const { return m_nLastAppMemory; }

signals:
    void returnToMainThreadSyncSig(std::function<void(void)> task);
    void returnToMainThreadAsyncSig(std::function<void(void)> task);
    void returnToThisThreadSig(std::function<void(void)> task);
    void sendWebSocketMsgSig(QString msg);

public slots:
    void onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);
    void onChangePTZELectPage();
    void onRecvWebsocketMsg(QString msg);
    void onDisconnect();
    void onCurWndIndexChange(int nPageId, int nWndIndex);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    using Handler = void (CPluginManage::*)(const Request &);
    static Handler handlerFor(int mainType);

    void dispatch(const Request &request);
    void onMainMsgLogin(const Request &request);
    void onMainMsgLogout(const Request &request);
    void onMainMsgConsultAesKey(const Request &request);
    void onMainMsgPreview(const Request &request);
    void onMainMsgWidgetStatus(const Request &request);
    void onMainMsgTalk(const Request &request);
    void onMainMsgVoiceCustom(const Request &request);
    void onMainMsgCustomVoiceFile(const Request &request);
    void onVoiceFileChosen(const Request &request, bool chosen, const QString &path);
    void onVoiceFileSent(int state, int code);
    void onMainMsgPlayback(const Request &request);

    // View control.
    void onMainMsgSwitchMode(const Request &request);
    void onMainMsgChangeSplit(const Request &request);
    void onMainMsgSetCurWnd(const Request &request);
    void onMainMsgCapture(const Request &request);
    void onMainMsgColorPreview(const Request &request);
    void onMainMsgPTZControl(const Request &request);
    void onMainMsgScaleSwitch(const Request &request);
    void onMainMsgRegionInfo(const Request &request);
    void onMainMsgRelogin(const Request &request);
    // Stops the colour preview's stream and logs its own login out.
    void stopColorPreview();
    // Leaving the playback page: playbacks, their timers and downloads end.
    void leavePlaybackPage();
    // Back on the live page: reopens the channels kept by the restore lists.
    void restoreLiveChannels();

    // Settings.
    void onMainMsgClientConfig(const Request &request);
    void onMainMsgAlarmType(const Request &request);
    void onMainMsgGetAlarmType(const Request &request);

    // Upgrades and the tool's version check.
    void onMainMsgOnlineUpgrade(const Request &request);
    void onMainMsgLocalUpgrade(const Request &request);
    void onMainMsgCheckToolVersion(const Request &request);
    // Sets the upgrade flag when a start succeeded.
    void noteUpgradeStart(int result);

    // Starts the file chooser with `args`; `done` runs on the worker thread
    // when it has ended: `chosen` with the whole output as `path`, else
    // nothing was chosen (cancelled, failed, crashed or missing chooser).
    void chooseWithBrowser(
        const QStringList &args, std::function<void(bool chosen, const QString &path)> done);
    // Starts the chooser and, once it has ended, sends `reply` with "Path"
    // and "nRet" Ok when a path was chosen, else with "nRet" Failed.
    void replyWithChosenPath(const QStringList &args, const Json::Value &reply);

    // Live view (MainType 4).
    void openPreview(Json::Value &reply, int channel, int stream);
    void openPreviewChannels(Json::Value &reply, int count, int stream);
    void closePreview(Json::Value &reply, int channel);
    void recordPreview(Json::Value &reply, int channel, int record);
    // Ends the live stream of a channel 0..63 when one is open; true if it was.
    bool disconnectLive(int channel);
    // Window `wnd` shows `channel` and the device stream of the channel opens:
    // Ret::Ok; Ret::WindowDecodeFailed (the channel's handle -1); or
    // Ret::StreamFailed (`error` = the library's result, the window stopped).
    int startLive(int channel, int stream, int wnd, int *error);
    // Logs the memory figures; the channels of `streamType` that still fit.
    int checkLiveMemory(int streamType);
    // Zeroes a window slot without reporting it.
    void resetWndSlot(int wnd);
    void sendVoiceFileResult(int result);
    void sendDefaultReply(const Request &request);
    void sendPlaybackProgress();
    void checkPlaybackEnd();
    // Ends the playback of a window whose stream has been played out.
    void EndPlaybackBuf(int wnd);

    // Playback and downloads (PluginManagePlayback.cpp, PluginManageDownload.cpp).
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
    void startDownload(const Request &request, Json::Value &reply);
    void cancelDownload();
    int StartDownload();
    // A file of the batch is complete: the next one, or the end of the batch.
    void downloadNextFile();
    void onConvertNextFile();
    void finishDownloadBatch(const QString &folder);

    struct PlaybackList
    {
        int mode = 0;
        int selectWnd = 0;
        int index = 0;
        std::vector<PlaybackFileInfo> files;
    };
    struct DownloadList
    {
        int kind = 1;
        int fileType = 0;
        int index = 0;
        std::vector<DownloadFileInfo> files;
        bool cancel = false;
        // Conversion of the batch's recordings: download index -> file name.
        std::map<int, QString> converted;
        int totalConvert = 0;
        int curConvert = 0;
        // Counts batches, so that late conversion callbacks of an ended one are known.
        quint64 batch = 0;
        bool converting = false;
    };
    PlaybackSlot m_playbackSlots[4];
    PlaybackList m_playbackList;
    DownloadList m_downloadList;
    DownloadRecord m_downloadRecord;

    QString m_strBrowserWnd;
    int m_nSessionId = 0;
    DeviceLoginInfo m_mainDevice;
    int m_nLastError = 0;
    QString m_strWebType;
    bool m_bSampleRate16 = false;
    QString m_strTempFilePath;
    int m_lPlayHandle[4] = {};
    int m_playbackState[4] = {};
    int m_lDownloadHandle = 0;
    bool m_bUpgrading = false;
    QString m_strNewFirmwareVersion;
    int m_nVoiceFileSubType = -1;
    int m_nVoiceFileMsgId = 0;
    std::unique_ptr<TalkControl> m_pTalk;

    struct WndSlot
    {
        int width = 0;
        int height = 0;
        int showElect = 0;
    };
    WndSlot m_wndSlots[DeviceLoginInfo::kMaxChannels];
    CGetSystemStatus *m_pSystemStatus = nullptr;
    QThread *m_thread = nullptr;

    int m_nProgressTimerId = 0;
    int m_nPlaybackEndTimerId = 0;
    int m_nPlaybackMode = 0;

    int m_nLastAppCpu = -1;
    int m_nLastSystemCpu = -1;
    int m_nLastAppMemory = 0;
};
