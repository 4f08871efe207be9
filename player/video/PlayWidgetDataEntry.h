#pragma once

#include "StreamInput.h"

// The window's stream input for the device library's threads: each call
// passes the data to the existing window (PlayWidget::inputRealPlay and its
// siblings), never making one. One object for the whole process
// (PlayWidget::dataEntry).
class PlayWidgetDataEntry final : public StreamInput
{
public:
    int InputRealPlayData(int channel, const char *data, int length, int dataType) override;
    int InputPlaybackData(int wnd, const char *data, int length) override;
    int InputColorSetData(const char *data, int length) override;
};
