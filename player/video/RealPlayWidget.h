#pragma once

#include "ElectPtz.h"
#include "LocalInfo.h"
#include "RuleRegionInfo.h"
#include "SoundOutput.h"

#include <QPoint>
#include <QSize>
#include <QWidget>

#include <array>
#include <atomic>
#include <mutex>
#include <shared_mutex>

class CDecodeChannel;
class CPlayWindowManage;
class QPainter;

// The live-view page of the player window: one window grid and one decode
// port per device channel 0-63 (the port number is the channel number). It
// maps windows to channels, starts and stops live preview, takes the stream
// data, snapshots and recordings, switches the one sound output, applies
// colour, and does digital zoom, electronic PTZ with presets, original-size
// display, the two-sensor check, the two-lens zoom slider and the drawing of
// an analysis rule over channel 0's picture.
//
// Results: 0 success, -1 no such channel, window or port, -2 the play library
// refused, unless said otherwise.
//
// Threads: everything runs on the GUI thread except InputData, which the
// device library's threads call. InputData never touches a widget: it feeds
// the port and posts picture size changes to the GUI thread; data for a
// channel without an open port is dropped. The destructor waits for calls of
// InputData in progress; the owner must make sure none starts after it.
class CRealPlayWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxChannel = 64;
    static constexpr int kMaxWnd = 64;
    // Windows of the grid when the panel is made.
    static constexpr int kInitialSplit = 9;

    explicit CRealPlayWidget(QWidget *parent = nullptr);
    ~CRealPlayWidget() override;

    // ---- ports and the window-to-channel map ----
    // Port of channel 0-63, created on first use; null outside 0-63.
    CDecodeChannel *GetChannel(int nChannel);
    // Channel shown by window 0-63, else -1.
    int GetWndChn(int nWndIndex) const;
    // First window that shows the channel, else -1.
    int FindWndIndex(int nChannel) const;
    int GetCurWndChn() const;
    int GetCurWndIndex() const;
    // The port's play state, -1 without port.
    int GetPlayState(int nChannel) const;
    // First channel whose port exists and is stopped, else -1.
    int FindStoppedChannel() const;
    int GetChnStream(int nChannel) const;
    // 1 original-size display on, 0 off, -1 after preview stop.
    int GetPlayOriginalState(int nChannel) const;
    bool IsDigitalZoom(int nChannel) const;
    bool IsRecording(int nChannel) const;
    bool IsSoundWnd(int nChannel) const;
    int GetSoundChannel() const { return m_sound.holder(); }
    CPlayWindowManage *GetWindowManage() const { return m_pWndManage; }

    // ---- layout, skin, device ----
    // Mode 0-6: 1, 4, 9, 16, 25, 36 or 64 windows; any other mode 1. Returns 0.
    int ChangeSplit(int nMode);
    void SplitWindow(int nCount);
    void SetSkin(const QString &strSkin);
    void SetDeviceInfo(int nLoginId, bool bIPC);
    int GetLoginId() const { return m_nLoginId; }
    bool IsIPC() const { return m_bIPC; }

    // ---- live preview ----
    // Window -1 is the current window; windows above 63 are refused (-1).
    int PreviewPlay(int nStreamKind, int nChannel, int nWndIndex);
    int PreviewStop(int nChannel);
    // Any thread (see above). -1 when the channel has no open port.
    int InputData(int nChannel, const char *pData, int nLen);
    // The channel's window back to normal preview (fill, selection allowed);
    // -1 without port or when the channel has no window.
    int SetPreviewStatus(int nChannel);
    // True when the device reports the channel as a two-sensor camera, which
    // is then shown in its original proportions. Enters the channel in the
    // window's table entry.
    bool GunBallDeivcePlayOriginal(int nChannel, int nWndIndex);
    int PlayOriginal(int nChannel);

    // ---- snapshots, recording, sound, colour ----
    // Into the capture folder ("<CapPath>/<channel+1 as 2 digits>_<yyyyMMdd_hhmmss>.bmp|jpg"),
    // or with bToConfig into "<program folder>/Cfg/capture.bmp".
    int Capture(int nChannel, bool bToConfig);
    // Start or stop; *pbRecording gets whether the port records afterwards.
    int Record(int nChannel, bool bStart, bool *pbRecording);
    // The library has one sound output: turning it on for a channel takes it
    // from the channel that had it.
    int OpenSound(int nChannel, bool bOn);
    int GetColor(int nChannel, int *pBrightness, int *pContrast, int *pSaturation, int *pHue);
    // Component 0-3 brightness, contrast, saturation, hue, 4 all; on the
    // current window's channel.
    int SetColor(int nComponent, int nValue);

    // ---- electronic PTZ (on the current window, which must show the channel) ----
    // Window -1 is the current window.
    bool PTZElectOpen(int nChannel, int nWndIndex);
    bool PTZElectZoomIn(int nChannel, int nStep);
    bool PTZElectZoomOut(int nChannel, int nStep);
    // Direction 0 up, 1 down, 2 left, 3 right.
    bool PTZElectronicMove(int nChannel, int nDirection, int nStep);
    bool PTZElectRedu(int nChannel);
    // Operation 6 delete, 7 add (the current region), 8 go to the preset.
    bool PTZElectPresent(int nChannel, int nOperation, int nPreset);
    // The channel's record; null outside 0-63.
    const ElectPtzRecord *GetPTZElectRecord(int nChannel) const;

    // ---- two-lens zoom ----
    // Direction 0 zooms in, 1 out, by steps of 0.1 (times kept in 0-7).
    void ScaleSwitch(int nDirection, int nSteps);
    float GetScaleTwoLensTimes() const { return m_fCurTwoLensTimes; }
    bool HasScaleTwoLens(int nChannel) const;

    // ---- full screen, settings, rule ----
    void EnterFullScreen();
    void ExitFullScreen();
    bool IsFullScreen() const { return m_bFullScreen; }
    void LoadLocalInfo();
    const LocalInfo &GetLocalInfo() const { return m_localInfo; }
    // Folder of "ClientCfg.ini" and of the fixed snapshot; the program's
    // folder unless set.
    void SetConfigFolder(const QString &strFolder) { m_strConfigFolder = strFolder; }
    QString GetConfigFolder() const { return m_strConfigFolder; }
    void SetRuleRegionInfo(const RuleRegionInfo &rule);
    RuleRegionInfo GetRuleRegionInfo() const;
    // Registers the rule drawing on channel 0's port when the rule belongs to
    // window 0; false otherwise or when the library refuses.
    bool RegisterRuleDraw();
    // The drawing callback given to the decode port (user = the panel).
    static void DrawRuleCallback(int nReserved, QPainter *painter, WId window, void *user);

signals:
    void curWndIndexSig(int nIndex);
    void changePTZELectPage();
    void videoSizeChange(int nIndex);

public slots:
    int OnDigitalZoom(QPoint start, QPoint end, int nWndIndex);
    int OnQuitDigitalZoom(int nWndIndex);
    int OnQuitPTZElect(int nWndIndex);
    void slot_GetScaleTwoLensAbility(int nWndNo);
    void slot_SetScaleTwoLensTimes(float fTimes, int nWndNo);

private:
    static bool IsChannel(int n) { return n >= 0 && n < kMaxChannel; }
    static bool IsWnd(int n) { return n >= 0 && n < kMaxWnd; }
    static qint64 PackSize(int nWidth, int nHeight);

    // Existing port only (GUI thread).
    CDecodeChannel *Port(int nChannel) const;
    void SetWndChn(int nWndIndex, int nChannel);
    // Keeps the thread-side copy of "which window follows this channel's
    // picture size" in step with the table and the original-size state.
    void UpdateSizeWatch(int nChannel);
    void ApplyVideoSize(int nChannel, int nWidth, int nHeight);
    bool QueryGunBall(int nChannel);
    bool IsSingleWndMode() const;
    // The current window's channel checked for an e-PTZ operation.
    CDecodeChannel *PtzPort(const char *function, const char *name, int nChannel);
    bool ApplyPtzRegion(int nChannel, CDecodeChannel *port, const TRV_PLAY_RECT &region);

    CPlayWindowManage *m_pWndManage = nullptr;

    // Shared with the device threads (InputData).
    mutable std::shared_mutex m_inputLock;
    std::array<std::atomic<CDecodeChannel *>, kMaxChannel> m_ports;
    std::array<std::atomic<bool>, kMaxChannel> m_bFeeding;
    std::array<std::atomic<int>, kMaxChannel> m_nSizeWatchWnd;
    std::array<std::atomic<qint64>, kMaxChannel> m_nLastSize;

    // GUI thread only.
    std::array<int, kMaxWnd> m_wndChn;
    std::array<bool, kMaxChannel> m_bDigitalZoom {};
    std::array<bool, kMaxChannel> m_bRecording {};
    std::array<int, kMaxChannel> m_nOriginal {};
    std::array<quint8, kMaxChannel> m_byStream {};
    std::array<bool, kMaxChannel> m_bTwoLens {};
    std::array<ElectPtzRecord, kMaxChannel> m_ptz;
    std::array<QSize, kMaxChannel> m_videoSize;
    SoundOutput m_sound;
    LocalInfo m_localInfo;
    QString m_strConfigFolder;
    int m_nLoginId = 0;
    bool m_bIPC = false;
    float m_fCurTwoLensTimes = 0.0f;
    int m_nScaleDirection = 0;
    bool m_bFullScreen = false;

    // Read by the drawing callback.
    mutable std::mutex m_ruleMutex;
    RuleRegionInfo m_rule;
};
