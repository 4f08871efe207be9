#pragma once

#include "LocalInfo.h"
#include "PlayWidgetFacade.h"

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

class CColorSetWidget;
class CPlaybackWidget;
class CRealPlayWidget;
class QHBoxLayout;

// The player's one top-level window. It holds the three pages (0 live view,
// 1 playback, 2 colour setting), puts itself into the browser's window so
// that the video shows inside the page, follows that window (re-finding it by
// title, re-embedding when the browser moves the page into another window,
// hiding while another tab is shown), shows, hides and moves itself as the
// page asks, and goes full screen and back. As the request manager's window
// facade it routes every call to the page it concerns.
//
// A process-wide singleton. Everything runs on the GUI thread, except the
// data input of the device library's threads, which goes through the static
// input functions (or dataEntry()): they never create the window, never touch
// a widget, drop data while there is no window, and the window is not
// released while one of them runs.
//
// The desktop's windows are reached through NativeWindow::desktop(). Window
// identifiers are native ids, 0 for none. The player's window is re-parented
// into the browser's by Qt (embed type 0); the owner-window way of newer
// Windows systems has no counterpart on X11.
class PlayWidget : public QWidget, public PlayWidgetFacade
{
    Q_OBJECT

public:
    // Window flags: embedded (as made), full screen, and back from full screen.
    static constexpr int kEmbeddedFlags = 0x200080b;
    static constexpr int kFullScreenFlags = 0x204080b;
    static constexpr int kRestoredFlags = 0x2000c0b;
    static constexpr int kDefaultFollowIntervalMs = 100;
    static constexpr int kDefaultFullScreenCheckMs = 500;
    // The render-window search goes no deeper than this.
    static constexpr int kMaxSearchDepth = 64;

    // ---- the singleton ----
    // GUI thread: the window, made on first use. Null on any other thread.
    static PlayWidget *instance();
    // GUI thread: the window if it exists; never makes one.
    static PlayWidget *existing();
    // GUI thread: deletes the window; waits for data input in progress.
    static void destroyInstance();
    // Any thread: the stream input for data callbacks. Its calls go to the
    // window if there is one (else -1) and never make the window. Lives as
    // long as the process.
    static StreamInput *dataEntry();
    // What the request manager's provider gives: the window (made on first
    // use) on the GUI thread, null on any other.
    static PlayWidgetFacade *facadeForCurrentThread();
    // The window if it exists and this is the GUI thread, else null; never
    // makes the window.
    static PlayWidgetFacade *existingFacade();

    // Any thread: stream data into the existing window's pages; -1 when
    // there is no window or the page drops it.
    static int inputRealPlay(int channel, const char *data, int length, int dataType);
    static int inputPlayback(int wnd, const char *data, int length);
    static int inputColorSet(const char *data, int length);

    // Settings of windows made afterwards: the follow timer's period, the
    // delay of the full-screen check, the folder of "ClientCfg.ini" and
    // "QuorvelToolVersion.ini" (empty: the program's folder).
    static void setFollowInterval(int ms);
    static void setFullScreenCheckDelay(int ms);
    static void setConfigFolder(const QString &folder);

    // The browser kinds whose render window is searched for, and whether a
    // window class is the render window's for a kind: the browsers' render
    // window classes on Windows, and on X11 the browser's own top-level window,
    // whose WM_CLASS names a Chromium-family browser.
    static bool IsRenderWindowClass(const QString &className, int browseType);
    static bool IsPosValid(int left, int top, int width, int height);

    // ---- the embedded window ----
    quint64 OwnWnd();
    int EmbedType() const { return m_nEmbedType; }
    quint64 BrowseWnd() const { return m_hCurBrowseWnd; }
    quint64 BrowseClientWnd() const { return m_hCurBrowseClientWnd; }
    bool HasBrowseClient() const { return m_bHasBrowseClient; }
    QString BrowserTitle() const { return m_strBrowserTitle; }
    QString WndName() const { return m_strWndName; }
    int BrowseType() const { return m_nBrowseType; }
    bool IsShowPlugin() const { return m_bShowPlugin; }
    bool IsBrowseClientVisible() const { return m_bBrowseClientVisible; }
    bool IsPosValidFlag() const { return m_bPosValid; }
    // Left, top, width, height last given by the page (relative to the render window).
    QRect PagePosition() const { return QRect(m_nPageLeft, m_nPageTop, m_nPageWidth, m_nPageHeight); }
    bool IsFollowing() const { return m_nFollowTimer != 0; }
    QString ConfigFolder() const { return m_strConfigFolder; }

    // Puts the window into `wnd` when it is a window; false otherwise or
    // when the window system refused.
    bool EmbedToBrowser(quint64 wnd);
    // The page area's origin, relative to the browser window.
    QPoint GetBrowserClientRect();
    // Moves and sizes the window `ownWnd` to the page's rectangle; 0 always.
    int MovePlayWidget(quint64 ownWnd, int left, int top, int width, int height);
    // True when the window was shown or hidden.
    bool ReqShowPlugin(bool show);
    void onExitFullscreen();

    CRealPlayWidget *RealPlayPage() const { return m_pRealPlay; }
    CPlaybackWidget *PlaybackPage() const { return m_pPlayback; }
    CColorSetWidget *ColorPage() const { return m_pColorSet; }

    // ---- the facade ----
    int GetCurPageIndex() override;
    void SetPageIndex(int page) override;
    quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) override;
    void SetBrowserWnd(quint64 browserWnd, quint64 renderWnd, const QString &title, int browseType) override;
    void onWidgetStatuChange(int type, int left, int top, int width, int height) override;
    LocalInfo LoadLocalInfo() override;
    void releaseInstance() override;
    QObject *signalSource() override;

    void SetSkin(const QString &skin) override;
    int ChangeSplit(int layoutIndex) override;
    int GetCurWndIndex() override;
    int GetCurWndChn(int type) override;
    int GetWndChn(int page, int wnd) override;
    int FindWndIndex(int page, int channel) override;
    int GetPlayState(int page, int index) override;
    bool IsDigitalZoom(int page, int index) override;
    bool IsSoundWnd(int page, int index) override;
    int OpenSound(int page, int index, bool on) override;
    int Capture(int index, bool live) override;

    void SetDeviceInfo(int loginId, bool ipc) override;
    int PreviewPlay(int streamType, int channel, int wnd) override;
    void PreviewStop(int channel) override;
    int InputRealPlayData(int channel, const char *data, int length, int dataType) override;
    void GetColor(int channel, int *brightness, int *contrast, int *saturation, int *hue) override;
    bool SetColor(int component, int value) override;
    int GetChnStream(int channel) override;
    bool IsRecording(int channel) override;
    int Record(int channel, bool on, bool *recording) override;
    int GetPlayOriginalState(int channel) override;
    int PlayOriginal(int channel) override;
    bool SetPreviewStatus(int channel) override;
    bool PTZElectOpen(int channel, int wnd) override;
    bool PTZElectPresent(int channel, int command, int preset) override;
    bool PTZElectRedu(int channel) override;
    bool PTZElectZoomIn(int channel, int step) override;
    bool PTZElectZoomOut(int channel, int step) override;
    bool PTZElectronicMove(int channel, int direction, int step) override;
    void ScaleSwitch(int type, int speed) override;
    void SetRuleRegionInfo(int mode, const RuleRegionInfo &rule, int *result) override;

    void SetPlaybackMode(bool devicePlayback) override;
    int StartPlayback(int openParameter, int wnd) override;
    void StopPlayback(int wnd) override;
    int InputPlaybackData(int wnd, const char *data, int length) override;
    int BeginLocalPlay(int wnd, const QString &fileName, FileEndCallback callback, void *user) override;
    void SetPlaybackWndChn(int channel, int wnd) override;
    void SetPlaybackTimeText(int wnd, const QString &start, const QString &end) override;
    void SetCurWnd(int wnd) override;
    int PlaybackControl(int wnd, int command) override;
    int SetPlayPos(int wnd, float position) override;
    int PositionToSeconds(int wnd, int perMille) override;
    float GetPlayTime(int wnd) override;
    void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) override;
    bool GetPlaybackFlag(int wnd) override;
    bool IsPlaybackRecording(int wnd) override;
    int PlaybackRecord(int wnd, bool on) override;
    int PlaybackDigitalZoom() override;
    void GetPlaybackWndStatus(int wnd, bool *recording, bool *zoom, bool *sound) override;
    void SetPlaybackBackground(const QString &picture) override;

    int ColorPreviewStart(int streamType) override;
    void ColorPreviewStop() override;
    int InputColorSetData(const char *data, int length) override;

    bool ChangeFileFormat(const QString &source, const QString &target, int type,
        ConvertProgressCallback callback, void *user) override;

signals:
    void curWndIndexSig(int nPageId, int nWndIndex);
    void changePTZELectPage();

public slots:
    void onCurWndIndexChange(int nIndex);
    void onFullScreen() override;

protected:
    void timerEvent(QTimerEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private:
    PlayWidget();
    ~PlayWidget() override;

    void ApplyWindowFlags(int flags);
    void StartFollowTimer();
    void StopFollowTimer();
    void FollowBrowser();
    void CheckFullScreen();
    // The outermost window that contains `wnd` (itself at the top); 0 when
    // `wnd` is no window.
    quint64 OutermostAncestor(quint64 wnd);
    // Our native window went away together with the window it was in.
    void OnOwnWindowDestroyed();
    void MoveToPagePosition();

    QHBoxLayout *m_pLayout = nullptr;
    CRealPlayWidget *m_pRealPlay = nullptr;
    CPlaybackWidget *m_pPlayback = nullptr;
    CColorSetWidget *m_pColorSet = nullptr;
    int m_nCurPageIndex = 0;

    quint64 m_hCurBrowseClientWnd = 0;
    quint64 m_hCurBrowseWnd = 0;
    bool m_bHasBrowseClient = false;
    QString m_strBrowserTitle;
    QString m_strWndName;
    int m_nBrowseType = 0;
    // A window the last attempt could not embed into: not tried again on every tick.
    quint64 m_hEmbedRefused = 0;

    int m_nPageLeft = 0;
    int m_nPageTop = 0;
    int m_nPageWidth = 0;
    int m_nPageHeight = 0;
    int m_nFollowTimer = 0;
    int m_nFollowIntervalMs = kDefaultFollowIntervalMs;
    int m_nFullScreenCheckMs = kDefaultFullScreenCheckMs;
    int m_nEmbedType = 0;

    bool m_bShowPlugin = false;
    bool m_bBrowseClientVisible = false;
    bool m_bPosValid = false;

    QString m_strConfigFolder;
    LocalInfo m_localInfo;
};
