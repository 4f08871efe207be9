#pragma once

// The part of the embedded player window that the request manager reaches on
// the GUI thread. The window implements it; tests put a recording double in
// its place. Every call runs on the GUI thread.
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
};
