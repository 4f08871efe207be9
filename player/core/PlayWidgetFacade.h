#pragma once

#include "LocalInfo.h"
#include "StreamInput.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>

class QObject;
struct RuleRegionInfo;

// The embedded player window as the request topics reach it, in slices: the
// window with its grids (GridWindowFacade), and the live, playback and colour
// pages (LiveWindowFacade, PlaybackWindowFacade, ColorWindowFacade), each
// page slice with the grid's calls. A topic reaches only the slice it works
// on; the window (PlayWidget) implements them all as PlayWidgetFacade. Every
// call runs on the GUI thread (through RequestContext::RunOnWindow or a
// posted task). The device library's threads reach only its stream input
// (the Input* calls of StreamInput, through PlayerWindow::streamInput).
// Window identifiers are native window ids, 0 for none.
//
// Pages: 0 live view, 1 playback, 2 colour preview. Methods with a `page`
// argument work on that page; the others on the page their comment names or
// on the current page. A page a method does not apply to gives -1 (ints),
// false (bools) or nothing.

// The window and its grids: pages, browser embedding, and the calls that
// work on the grid of a page.
class GridWindowFacade
{
public:
    virtual ~GridWindowFacade() = default;

    // --- Window, pages and browser embedding ---
    virtual int GetCurPageIndex() = 0;
    virtual void SetPageIndex(int page) = 0;
    // The browser's page-drawing child window found from `browserWnd`
    // (depth 0 at the start), 0 when there is none.
    virtual quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) = 0;
    virtual void SetBrowserWnd(quint64 browserWnd, quint64 renderWnd, const QString &title, int browseType)
        = 0;
    // Type 1 hides, 2 shows at, 4 moves to the page's rectangle.
    virtual void onWidgetStatuChange(int type, int left, int top, int width, int height) = 0;
    virtual void onFullScreen() = 0;
    virtual LocalInfo LoadLocalInfo() = 0;
    // Destroys the window; the next use makes a new one.
    virtual void releaseInstance() = 0;
    // The object that emits the window's signals curWndIndexSig(int nPageId,
    // int nWndIndex) and changePTZELectPage(); it lives on the GUI thread.
    virtual QObject *signalSource() = 0;

    // --- Both grids ---
    virtual void SetSkin(const QString &skin) = 0;
    // Current page 0 or 1: that page's split; page 2: 0.
    virtual int ChangeSplit(int layoutIndex) = 0;
    virtual int GetCurWndIndex() = 0;
    // Channel of the current window: type 0 live page, 1 playback page, 5 current page.
    virtual int GetCurWndChn(int type) = 0;
    virtual int GetWndChn(int page, int wnd) = 0;
    virtual int FindWndIndex(int page, int channel) = 0;
    // The page's play state of a channel (live), window (playback) or the colour page, as the page reports
    // it.
    virtual int GetPlayState(int page, int index) = 0;
    virtual bool IsDigitalZoom(int page, int index) = 0;
    virtual bool IsSoundWnd(int page, int index) = 0;
    // 0 when the sound was switched.
    virtual int OpenSound(int page, int index, bool on) = 0;
    // Live flag set or current page 0: live snapshot of channel `index`;
    // current page 1: snapshot of playback window `index`. 0 on success.
    virtual int Capture(int index, bool live) = 0;
};

// The live page.
class LiveWindowFacade : public virtual GridWindowFacade
{
public:
    // --- Live page ---
    // The logged-in device; `ipc`: a single-channel device.
    virtual void SetDeviceInfo(int loginId, bool ipc) = 0;
    // Window `wnd` (-1 the current one) shows `channel` opened with `streamType`; negative on failure.
    virtual int PreviewPlay(int streamType, int channel, int wnd) = 0;
    virtual void PreviewStop(int channel) = 0;
    virtual void GetColor(int channel, int *brightness, int *contrast, int *saturation, int *hue) = 0;
    // On the current window's channel.
    virtual bool SetColor(int component, int value) = 0;
    virtual int GetChnStream(int channel) = 0;
    virtual bool IsRecording(int channel) = 0;
    // Non-zero on failure; `recording` gets the state afterwards.
    virtual int Record(int channel, bool on, bool *recording) = 0;
    virtual int GetPlayOriginalState(int channel) = 0;
    virtual int PlayOriginal(int channel) = 0;
    virtual bool SetPreviewStatus(int channel) = 0;
    virtual bool PTZElectOpen(int channel, int wnd) = 0;
    virtual bool PTZElectPresent(int channel, int command, int preset) = 0;
    virtual bool PTZElectRedu(int channel) = 0;
    virtual bool PTZElectZoomIn(int channel, int step) = 0;
    virtual bool PTZElectZoomOut(int channel, int step) = 0;
    virtual bool PTZElectronicMove(int channel, int direction, int step) = 0;
    virtual void ScaleSwitch(int type, int speed) = 0;
    // Mode 1 registers the rule drawing; `result` becomes 1016 when that fails.
    virtual void SetRuleRegionInfo(int mode, const RuleRegionInfo &rule, int *result) = 0;
};

// The playback page, and the conversion of downloaded files.
class PlaybackWindowFacade : public virtual GridWindowFacade
{
public:
    using FileEndCallback = void (*)(int port, void *user);
    using ConvertProgressCallback = void (*)(int64_t current, int64_t total, void *user);

    // --- Playback page ---
    virtual void SetPlaybackMode(bool devicePlayback) = 0;
    virtual int StartPlayback(int openParameter, int wnd) = 0;
    virtual void StopPlayback(int wnd) = 0;
    virtual int BeginLocalPlay(int wnd, const QString &fileName, FileEndCallback callback, void *user) = 0;
    virtual void SetPlaybackWndChn(int channel, int wnd) = 0;
    virtual void SetPlaybackTimeText(int wnd, const QString &start, const QString &end) = 0;
    virtual void SetCurWnd(int wnd) = 0;
    virtual int PlaybackControl(int wnd, int command) = 0;
    // Seek within a local file; the library's answer.
    virtual int SetPlayPos(int wnd, float position) = 0;
    // Seconds from the window's start time to the per-mille position.
    virtual int PositionToSeconds(int wnd, int perMille) = 0;
    // Current play time of a playback window, in seconds.
    virtual float GetPlayTime(int wnd) = 0;
    // The two fill levels of a playback window's decoder.
    virtual void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) = 0;
    virtual bool GetPlaybackFlag(int wnd) = 0;
    virtual bool IsPlaybackRecording(int wnd) = 0;
    virtual int PlaybackRecord(int wnd, bool on) = 0;
    // Toggles the current window's digital zoom: 0, or -1 without a playing port.
    virtual int PlaybackDigitalZoom() = 0;
    // Recording, digital zoom and sound of a window.
    virtual void GetPlaybackWndStatus(int wnd, bool *recording, bool *zoom, bool *sound) = 0;
    // Picture of window 0; empty for none.
    virtual void SetPlaybackBackground(const QString &picture) = 0;

    // --- Files ---
    // Converts a stream file to AVI; progress reaches `callback`.
    virtual bool ChangeFileFormat(
        const QString &source, const QString &target, int type, ConvertProgressCallback callback, void *user)
        = 0;
};

// The colour page.
class ColorWindowFacade : public virtual GridWindowFacade
{
public:
    // --- Colour page ---
    virtual int ColorPreviewStart(int streamType) = 0;
    virtual void ColorPreviewStop() = 0;
};

// The whole window: every slice and the stream input.
class PlayWidgetFacade : public StreamInput,
                         public LiveWindowFacade,
                         public PlaybackWindowFacade,
                         public ColorWindowFacade
{
};
