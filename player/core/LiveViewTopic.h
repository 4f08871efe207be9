#pragma once

#include "RequestContext.h"

#include "kestrix/kestrix.h"

class CGetSystemStatus;

// Live view (MainType 4): the device's live streams per channel, the live
// windows' own functions, the window slots and the live window events. The
// one owner of the live stream handles: the view switcher, the fresh login
// and the logout ask it to stop, keep and restore the streams. Worker thread,
// except the data callbacks.
class LiveViewTopic
{
public:
    LiveViewTopic(RequestContext &context, CGetSystemStatus &systemStatus);

    // The 32-bit player checks before opening live channels that the memory
    // left in its address space can hold them; the 64-bit player has no such
    // limit and skips the check.
    static constexpr bool kLiveMemoryCheck = sizeof(void *) == 4;
    // How many more live channels of `streamType` fit: the remaining memory
    // (at most 1024 MiB) less the player's own, over 40 MiB per main stream
    // or 25 MiB per other stream.
    static int LiveChannelBudget(int remainMiB, int appMiB, int streamType);

    Answer onMainMsgPreview(const Request &request);

    // Stops every open stream and its window (logout).
    void stopAll();
    // Leaving for the playback page: stops every open stream and keeps it in
    // the restore lists.
    void stopForPlayback();
    // Keeps the open streams in the restore lists without stopping them.
    void keepOpenForRestore();
    // Back on the live page: reopens the channels kept by the restore lists.
    void restoreLiveChannels();
    // A snapshot of `channel` into the live page's fixed picture; a channel
    // that is not open is opened on its main stream for it and closed again.
    // The window's result, -1 when nothing was taken.
    int snapshotChannel(int channel);

    // The window slot of a grid window: the last video size and its
    // electronic-PTZ display state. Zeroes the slot of a window 0..63 and
    // always reports {"MainEvent":0,"SubEvent":6,"nShowElect":0}.
    void ClearWndSlot(int wnd);
    int wndShowElect(int wnd) const;
    // A channel's live pictures have this size: keeps it in the channel's
    // window slot and reports a change of the electronic-PTZ display.
    void onShowPTZElect(int width, int height, int channel);
    // Reports the state of live channel `chn` with the current window's
    // channel as {"MainEvent":0,"SubEvent":2,...}, on the live page only.
    void SendWndStatus(int chn, int curChn);
    // The live page's current window changed.
    void onCurWndIndexChange(int nWndIndex);
    void onChangePTZELectPage();

    // Device library callbacks; the user value is the channel.
    static int PreviewDataCallback(int realHandle, const TRV_FRAME_INFO *frame, void *user);
    static int RealPlayDataCallback(
        int realHandle, int dataType, const unsigned char *data, int length, void *user);
    // How long the snapshot of a channel opened for it waits after the key
    // frame request (2000 ms).
    static void setSnapshotWaitMs(int ms);

private:
    Answer openPreview(Json::Value &reply, int channel, int stream);
    Answer openPreviewChannels(Json::Value &reply, int count, int stream);
    Answer closePreview(Json::Value &reply, int channel);
    Answer recordPreview(Json::Value &reply, int channel, int record);
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
    // Keeps channel `channel` in the restore lists, stopping its window too
    // when asked.
    void keepForRestore(int channel, bool stop);

    RequestContext &m_ctx;
    CGetSystemStatus &m_systemStatus;
    struct WndSlot
    {
        int width = 0;
        int height = 0;
        int showElect = 0;
    };
    WndSlot m_wndSlots[DeviceLoginInfo::kMaxChannels];
};
