#include "PlayWidgetDataEntry.h"

#include "PlayWidget.h"

StreamInput *PlayWidget::dataEntry()
{
    static PlayWidgetDataEntry entry;
    return &entry;
}

int PlayWidgetDataEntry::InputRealPlayData(int channel, const char *data, int length, int dataType)
{
    return PlayWidget::inputRealPlay(channel, data, length, dataType);
}

int PlayWidgetDataEntry::InputPlaybackData(int wnd, const char *data, int length)
{
    return PlayWidget::inputPlayback(wnd, data, length);
}

int PlayWidgetDataEntry::InputColorSetData(const char *data, int length)
{
    return PlayWidget::inputColorSet(data, length);
}
