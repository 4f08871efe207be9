#pragma once

#include "PlayWidgetFacade.h"

#include <json/value.h>

// What the live page shows of one channel's window, read on the GUI thread,
// as the window-state events report it.
struct LiveWndState
{
    int brightness = 0, contrast = 0, saturation = 0, hue = 0;
    bool audio = false;
    bool zoom = false;
    int original = 0;
    int playStatus = 0;

    void read(LiveWindowFacade *widget, int channel)
    {
        widget->GetColor(channel, &brightness, &contrast, &saturation, &hue);
        audio = widget->IsSoundWnd(PlayerPage::Live, channel);
        zoom = widget->IsDigitalZoom(PlayerPage::Live, channel);
        original = widget->GetPlayOriginalState(channel);
        playStatus = widget->GetPlayState(PlayerPage::Live, channel);
    }

    void write(Json::Value &data) const
    {
        data["PlayStatus"] = playStatus;
        data["Audio"] = audio ? 1 : 0;
        data["DigitalZoom"] = zoom;
        data["RageState"] = original;
        data["nBrightness"] = brightness;
        data["nContrast"] = contrast;
        data["nSaturation"] = saturation;
        data["nHue"] = hue;
    }
};

// What the playback page shows of one window, read on the GUI thread, as
// the window-state event and the status request report it.
struct PlaybackWndState
{
    bool recording = false;
    bool zoom = false;
    bool sound = false;
    int status = 0;

    void read(PlaybackWindowFacade *widget, int wnd)
    {
        widget->GetPlaybackWndStatus(wnd, &recording, &zoom, &sound);
        status = widget->GetPlayState(PlayerPage::Playback, wnd);
    }

    void write(Json::Value &data) const
    {
        data["Zoom"] = zoom;
        data["Record"] = recording;
        data["Audio"] = sound;
        data["Status"] = status;
    }
};
