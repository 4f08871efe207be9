#pragma once

#include "SoundOutput.h"
#include "lumarel/lumarel.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <shared_mutex>

class CDecodeChannel;
class CPlayWindowManage;

// The playback page of the player window: recorded video in one or four
// windows of its own grid, streamed from the device (device playback, ports
// 64-67) or read from local files (ports 128-131).
//
// The page holds its grid, the window-to-channel table, the source mode, the
// window flags, the sound window and eight decode ports (four per source),
// each made on first use. Windows above 3 have no port.
//
// GUI thread only, except InputData, which the device library's threads call:
// it feeds the device port of a window and never touches a widget. The ports
// live until the page goes; no InputData runs while they are deleted.
class CPlaybackWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxWnd = 4;
    static constexpr int kDevicePortBase = 64;
    static constexpr int kLocalPortBase = 128;

    using FileEndCallback = TRV_PLAY_FileEndCallBack;

    explicit CPlaybackWidget(QWidget *parent = nullptr);
    ~CPlaybackWidget() override;

    CPlayWindowManage *GetWindowManage() const { return m_pWndManage; }

    // ---- source, layout, windows ----
    // Device playback (true) or local files; selects window 0.
    void SetPlayMode(bool bDevice);
    bool IsDevicePlayback() const { return m_bDevicePlayback; }
    // Play port number of window 0-3 for the current source, else -1.
    int PortNumber(int nWndIndex) const;
    // The window's port for the current source, made on first use; null above window 3.
    CDecodeChannel *GetChannel(int nWndIndex);
    // Mode 1 shows four windows, any other mode one. Returns 0.
    int ChangeSplit(int nMode);
    int GetSplitMode() const { return m_nSplitMode; }
    void SetWndChn(int nChannel, int nWndIndex);
    int GetWndChn(int nWndIndex) const;
    int GetCurWndChn() const;
    int GetCurWndIndex() const;
    int FindWndIndex(int nChannel) const;
    void SetCurWnd(int nWndIndex);
    void SetSkin(const QString &strSkin);
    // Picture of window 0; empty for none.
    void SetBackground(const QString &strPicture);

    // ---- state ----
    // The port's play state, -1 without port.
    int GetPlayState(int nWndIndex) const;
    bool IsRecording(int nWndIndex) const;
    bool IsDigitalZoom(int nWndIndex) const;
    bool IsSoundWnd(int nWndIndex) const;

    // ---- playback ----
    // Any thread. 0, or -1 without port.
    int InputData(int nWndIndex, const char *pData, int nLen);
    // 1 when the library took the file, else 0.
    int BeginLocalPlay(int nWndIndex, const QString &strFile, FileEndCallback callback, void *pUser);
    // Window -1 is the current one. 0, -1 without port, -2 when the port
    // could not open the stream or play.
    int StartPlayback(int nStreamKind, int nWndIndex);
    int StopPlayback(int nWndIndex);
    // The new play state, -1 without port.
    int PlaybackControl(int nWndIndex, int nCommand);
    // 0 without port.
    int SetPlayPos(int nWndIndex, float fPos);
    void SetTimeText(int nWndIndex, const QString &strStart, const QString &strEnd);
    int PositionToSeconds(int nWndIndex, int nPermille);
    float GetPlayTime(int nWndIndex);
    // Leaves the outputs as they are without port.
    void GetBufInfo(int nWndIndex, int *pFrames, int *pStream);
    bool GetPlaybackFlag(int nWndIndex);

    // ---- snapshots, recording, sound, zoom ----
    // Into `strFolder`. 0, -1 without port, -2 refused.
    int Capture(int nWndIndex, const QString &strFolder);
    // Type 0 ".h265x", 2 AVI. The library's result; 0 when nothing was done.
    int Record(int nWndIndex, int nType, bool bStart, const QString &strFolder);
    int OpenSound(int nWndIndex, bool bOn);
    // Toggles the current window's digital zoom; -1 without port or stopped.
    int DigitalZoom();
    // One display region for window `nWndIndex`, or for all four with -1;
    // the original-size mode of all four windows' ports.
    int SetDisplayRegion(int nWndIndex, const TRV_PLAY_RECT &rect, bool bEnable);
    int SetOriginalMode(int nValue);

signals:
    void curWndIndexSig(int nIndex);

public slots:
    int OnDigitalZoom(QPoint start, QPoint end, int nWndIndex);
    int OnQuitDigitalZoom(int nWndIndex);

private:
    static bool IsWnd(int n) { return n >= 0 && n < kMaxWnd; }
    // The window's port for the current source when it exists.
    CDecodeChannel *Port(int nWndIndex) const;
    // "%1/..." names of snapshots and recordings: folder, then "NN_" with
    // the window's channel + 1 in device playback or "Local_", and the time.
    QString FileName(int nWndIndex, const QString &strFolder, const QString &strExtension) const;

    CPlayWindowManage *m_pWndManage = nullptr;
    // [0] device playback (ports 64-67), [1] local files (ports 128-131).
    std::array<std::array<std::atomic<CDecodeChannel *>, kMaxWnd>, 2> m_ports;
    // Shared with the device threads (InputData).
    mutable std::shared_mutex m_inputLock;
    std::array<int, kMaxWnd> m_wndChn;
    std::array<bool, kMaxWnd> m_bDigitalZoom {};
    std::array<bool, kMaxWnd> m_bRecording {};
    SoundOutput m_sound;
    int m_nSplitMode = 0;
    bool m_bDevicePlayback = false;
};
