#pragma once

// What the device library's threads may do with the embedded window: hand it
// stream data. Live, playback and colour-preview data each go to the window
// if one exists; a call never makes the window and never touches a widget.
// Results: 0 when the data was taken, -1 when there is no window or the page
// drops it.
class StreamInput
{
public:
    virtual ~StreamInput() = default;

    virtual int InputRealPlayData(int channel, const char *data, int length, int dataType) = 0;
    virtual int InputPlaybackData(int wnd, const char *data, int length) = 0;
    virtual int InputColorSetData(const char *data, int length) = 0;
};
