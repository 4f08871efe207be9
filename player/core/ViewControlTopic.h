#pragma once

#include "RequestContext.h"

class LiveViewTopic;
class PlaybackTopic;

// View control (MainTypes 2, 3, 6, 11, 12, 19, 24, 29, 34): what the embedded
// window shows and where, the snapshot of one channel, the colour preview on
// a login of its own, electronic PTZ, the two-lens zoom and the rule overlay.
// Worker thread, except the colour preview's data callback.
class ViewControlTopic
{
public:
    ViewControlTopic(RequestContext &context, LiveViewTopic &live, PlaybackTopic &playback);

    Answer onMainMsgSwitchMode(const Request &request);
    Answer onMainMsgChangeSplit(const Request &request);
    Answer onMainMsgSetCurWnd(const Request &request);
    Answer onMainMsgWidgetStatus(const Request &request);
    Answer onMainMsgCapture(const Request &request);
    Answer onMainMsgColorPreview(const Request &request);
    Answer onMainMsgPTZControl(const Request &request);
    Answer onMainMsgScaleSwitch(const Request &request);
    Answer onMainMsgRegionInfo(const Request &request);

    // Stops the colour preview's stream and logs its own login out.
    void stopColorPreview();
    // The colour preview's stream data; the user value is the topic.
    static int ColorPreviewDataCallback(
        int realHandle, int dataType, const unsigned char *data, int length, void *user);

private:
    RequestContext &m_ctx;
    LiveViewTopic &m_live;
    PlaybackTopic &m_playback;
};
