#pragma once

#include <QString>
#include <QtGlobal>

class QObject;

// The part of the embedded player window that the request manager reaches on
// the GUI thread. The window implements it; tests put a recording double in
// its place. Every call runs on the GUI thread. Window identifiers are native
// window ids, 0 for none.
class PlayWidgetFacade
{
public:
    virtual ~PlayWidgetFacade() = default;

    // 0 live view, 1 playback, 2 colour preview.
    virtual int GetCurPageIndex() = 0;
    virtual int GetCurWndIndex() = 0;
    // Channel of the current window: type 0 live page, 1 playback page, 5 current page.
    virtual int GetCurWndChn(int type) = 0;
    virtual int GetWndChn(int page, int wnd) = 0;
    // Current play time of a playback window, in seconds.
    virtual float GetPlayTime(int wnd) = 0;
    // The two fill levels of a playback window's decoder.
    virtual void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) = 0;

    // Window state that the window-selection events report.
    // Live page: brightness, contrast, saturation and hue of a channel.
    virtual void GetColor(int channel, int *brightness, int *contrast, int *saturation, int *hue) = 0;
    virtual bool IsSoundWnd(int page, int index) = 0;
    virtual bool IsDigitalZoom(int page, int index) = 0;
    // Live page: whether the channel plays in the picture's own proportions.
    virtual int GetPlayOriginalState(int channel) = 0;
    // The page's play state of a channel (live) or window (playback), as the page reports it.
    virtual int GetPlayState(int page, int index) = 0;
    // Playback page: recording, digital zoom and sound of a window.
    virtual void GetPlaybackWndStatus(int wnd, bool *recording, bool *zoom, bool *sound) = 0;

    // Login: the browser window the player embeds into. The render window is
    // the browser's page-drawing child window found from `browserWnd`
    // (depth 0 at the start), 0 when there is none.
    virtual quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) = 0;
    virtual void SetBrowserWnd(quint64 browserWnd, quint64 renderWnd, const QString &title, int browseType)
        = 0;
    virtual void SetSkin(const QString &skin) = 0;
    // The logged-in device; `ipc`: a single-channel device.
    virtual void SetDeviceInfo(int loginId, bool ipc) = 0;
    virtual void SetPageIndex(int page) = 0;
    virtual int ChangeSplit(int layoutIndex) = 0;

    // Logout: stop what the windows show, hide and destroy the window.
    virtual void StopPlayback(int wnd) = 0;
    virtual void PreviewStop(int channel) = 0;
    virtual void ColorPreviewStop() = 0;
    // Type 1 hides, 2 shows at, 4 moves to the page's rectangle.
    virtual void onWidgetStatuChange(int type, int left, int top, int width, int height) = 0;
    // Destroys the window; the next use makes a new one.
    virtual void releaseInstance() = 0;

    // The object that emits the window's signals curWndIndexSig(int nPageId,
    // int nWndIndex) and changePTZELectPage(); it lives on the GUI thread.
    virtual QObject *signalSource() = 0;
};
