#pragma once

#include "lumarel/lumarel.h"

#include <QString>
#include <QtGui/qwindowdefs.h>

#include <cstdint>

class QPainter;

// A calendar date and time as the play-time functions keep it (the day of
// the week and the milliseconds are not set).
struct PlayTimeRecord
{
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// One port of the play library: every picture the player shows (live view,
// device playback, local files, colour preview) passes through one of these.
// The owning panel creates it with a port number, gives it the window to
// draw into, opens a stream or a file, feeds it, steers and stops it. All
// methods run on the GUI thread; results are the library's (nonzero success)
// unless said otherwise.
class CDecodeChannel
{
public:
    // The owner's overlay drawing, called on the GUI thread after each
    // picture with the painter of the window and the channel's window.
    using DrawCallback = void (*)(int reserved, QPainter *painter, WId window, void *user);
    using FileEndCallback = TRV_PLAY_FileEndCallBack;
    using ConvertCallback = TRV_PLAY_ConvertProgressCallBack;

    // Play states (GetState, the result of PlayControl).
    enum State {
        StatePlaying = 0,
        StateStopped = 1,
        StatePaused = 2,
        StateSlowFirst = 16, // 16-19: slow, level = state - 15
        StateFastFirst = 32, // 32-35: fast, level = state - 31
        StateStepForward = 48,
        StateStepBackward = 49,
    };

    explicit CDecodeChannel(int port);
    ~CDecodeChannel();
    CDecodeChannel(const CDecodeChannel &) = delete;
    CDecodeChannel &operator=(const CDecodeChannel &) = delete;

    int GetPort() const { return m_nPort; }
    void SetHwnd(WId window) { m_hWnd = window; }
    WId GetHwnd() const { return m_hWnd; }
    int GetState() const { return m_nPlayState; }
    bool IsOpen() const { return m_bOpen; }
    bool IsSoundOpen() const { return m_bSound; }
    bool IsRecording() const { return m_bRecord; }
    int GetOriginalState() const { return m_nOriginal; }
    int GetStreamKind() const { return m_nStreamKind; }
    DrawCallback GetDrawCallback() const { return m_drawCallback; }
    void *GetDrawUser() const { return m_drawUser; }

    // Stream and rendering.
    int Open(int streamKind);
    int Close();
    int InputData(const char *data, int length);
    int StartPreview();
    int StopPreview();
    int StartPlayback(bool localFile);
    int StopPlayback();
    int BeginLocalPlay(const QString &fileName, FileEndCallback callback, void *user);
    int StopLocalPlay();
    int PlayControl(int command);
    int SetPlayPos(float position);
    bool GetPlaybackFlag();
    int OpenSound();
    int CloseSound();
    int GetFrameBufferCount();
    int GetStreamBufferCount();
    int GetPictureSize(int *width, int *height);
    int SetGdiMode(int port, int value);
    unsigned short GetVolume();
    int SetVolume(int value);

    // Picture adjustments.
    int GetColor(int *brightness, int *contrast, int *saturation, int *hue);
    int SetColor(int component, int value);
    int SetDisplayRegion(const TRV_PLAY_RECT *rect, int enable);
    bool SetDisplayRegionRect(int left, int top, int right, int bottom, bool enable);
    int PlayOriginal();
    int ResetOriginal();
    int SetOriginalMode(int value);

    // Overlay drawing.
    int SetDrawCallback(DrawCallback callback, void *user);

    // Snapshots (type 0 BMP, 1 JPEG), recording (type 0 ".h265x", 2 AVI)
    // and conversion (type 2: ".h265x" to AVI, asynchronous).
    bool CatchPicture(const QString &fileName, int type);
    static bool SaveYuvAsJpeg(const QString &fileName, int width, int height, const unsigned char *yuv);
    int StartRecord(const QString &fileName, int type);
    int StopRecord();
    static bool ChangeFileFormat(
        const QString &source, const QString &target, int type, ConvertCallback callback, void *user);

    // Play time.
    int SetTimeText(const char *start, const char *end);
    float GetPlayPos();
    float GetPlayTime(int mode);
    int PositionToSeconds(int permille);
    int GetCurrentTime(PlayTimeRecord *out);

private:
    static void DrawTrampoline(int reserved, QPainter *painter, void *user);
    bool CurrentLocalTime(struct tm *out);
    // Stops the picture of either kind of play; the library's result.
    int stopPlay(const char *function);

    bool m_bOpen = false;
    bool m_bSound = false;
    bool m_bRecord = false;
    int m_nPort;
    WId m_hWnd = 0;
    int m_nPlayState = StateStopped;
    PlayTimeRecord m_startTime;
    PlayTimeRecord m_endTime;
    int m_nBrightness = TRV_PLAY_COLOR_DEFAULT;
    int m_nContrast = TRV_PLAY_COLOR_DEFAULT;
    int m_nSaturation = TRV_PLAY_COLOR_DEFAULT;
    int m_nHue = TRV_PLAY_COLOR_DEFAULT;
    int m_nOriginal = 0;
    int m_nStreamKind = -1;
    DrawCallback m_drawCallback = nullptr;
    void *m_drawUser = nullptr;
};
