#ifndef LUMAREL_LUMAREL_H
#define LUMAREL_LUMAREL_H

/*
 * Lumarel: the play library. One play port per stream or file (ports 0-499).
 *
 * A stream port takes the device stream format (TVF1 frames with H.264, H.265
 * or G.711 payloads, and the 8-byte voice frame head), a file port reads a
 * ".h265x" stream file or an AVI file. Decoding runs on a thread of the port;
 * pictures are drawn into a widget of the calling process, named by its
 * window id. Results are nonzero for success unless a function says
 * otherwise; TRV_PLAY_GetLastError tells why a call failed.
 *
 * Functions that take a window must be called on the GUI thread or accept
 * that the window is looked up later there. Callbacks run on the library's
 * threads, except the draw callback, which runs on the GUI thread.
 */

#include <stdint.h>

#if defined(LUMAREL_BUILD)
#define TRV_PLAY_API __attribute__((visibility("default")))
#else
#define TRV_PLAY_API
#endif

#ifdef __cplusplus
class QPainter;
extern "C" {
#else
typedef struct QPainter QPainter;
#endif

/* A window id of the calling process (Qt's WId); 0 means no window. */
typedef uintptr_t TRV_PLAY_WND;

/* A rectangle in picture coordinates, 0-8192 on both axes for the whole picture. */
typedef struct TRV_PLAY_RECT
{
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} TRV_PLAY_RECT;

enum {
    TRV_PLAY_MAX_PORT = 500, /* ports are 0 .. TRV_PLAY_MAX_PORT - 1 */
    TRV_PLAY_REGION_SPACE = 8192, /* extent of the display-region coordinates */

    TRV_PLAY_STREAM_REALTIME = 0, /* TRV_PLAY_SetStreamOpenMode: drop input when the pool is full */
    TRV_PLAY_STREAM_FILE = 1, /* hold the producer back and pace the output */

    TRV_PLAY_MAX_SPEED_LEVEL = 4, /* fast and slow levels 1..4 */

    TRV_PLAY_BUF_SOURCE_BYTES = 1, /* TRV_PLAY_GetBufferValue: bytes waiting in the input pool */
    TRV_PLAY_BUF_SOURCE_BLOCKS = 2, /* blocks waiting in the input pool */
    TRV_PLAY_BUF_FRAMES = 3, /* decoded pictures waiting to be shown */

    TRV_PLAY_PICTURE_BMP = 0, /* TRV_PLAY_CatchPicture: a complete BMP file image */
    TRV_PLAY_PICTURE_I420 = 1, /* a planar Y, U, V 4:2:0 picture */

    TRV_PLAY_RECORD_STREAM = 0, /* TRV_PLAY_StartDataRecord: the input stream unchanged */
    TRV_PLAY_RECORD_AVI = 2, /* the video and audio remuxed into AVI */

    TRV_PLAY_CONVERT_AVI = 2, /* TRV_PLAY_ConvertFile: ".h265x" to AVI */

    TRV_PLAY_COLOR_DEFAULT = 64, /* brightness, contrast, saturation, hue: 0-128 */
    TRV_PLAY_COLOR_MAX = 128
};

/* Error codes of TRV_PLAY_GetLastError. */
enum {
    TRV_PLAY_NOERROR = 0,
    TRV_PLAY_ERR_PARA = 1, /* a bad argument */
    TRV_PLAY_ERR_ORDER = 2, /* the call does not fit the port's state */
    TRV_PLAY_ERR_PORT = 3, /* no such port, or the port is not open */
    TRV_PLAY_ERR_OPEN_FILE = 4, /* a file could not be opened or read */
    TRV_PLAY_ERR_CREATE_FILE = 5, /* a file could not be created or written */
    TRV_PLAY_ERR_NO_PICTURE = 6, /* nothing decoded yet */
    TRV_PLAY_ERR_BUF_SMALL = 7, /* the caller's buffer is too small */
    TRV_PLAY_ERR_BUF_OVER = 8, /* the input pool is full; data dropped */
    TRV_PLAY_ERR_WINDOW = 9, /* the window id names no widget */
    TRV_PLAY_ERR_BUSY = 10, /* already running */
    TRV_PLAY_ERR_FORMAT = 11, /* the data or file format is not supported */
    TRV_PLAY_ERR_AUDIO_DEVICE = 12 /* no sound server, or it refused the microphone */
};

/* Called once on the port's thread when a file port has shown its last picture. */
typedef void (*TRV_PLAY_FileEndCallBack)(int port, void *user);
/* Called on the GUI thread after each drawing of the port's picture; `reserved` is 0. */
typedef void (*TRV_PLAY_DrawCallBack)(int reserved, QPainter *painter, void *user);
/* Called on the capture thread with one block of 16-bit PCM samples. */
typedef void (*TRV_PLAY_AudioCaptureCallBack)(const char *pcm, unsigned int length, void *user);
/* Conversion progress in bytes of the source; the last call has current == total. */
typedef void (*TRV_PLAY_ConvertProgressCallBack)(int64_t current, int64_t total, void *user);

/* Files. */
TRV_PLAY_API int TRV_PLAY_OpenFile(int port, const char *fileName);
TRV_PLAY_API int TRV_PLAY_CloseFile(int port);
TRV_PLAY_API int TRV_PLAY_SetFileEndCallBack(int port, TRV_PLAY_FileEndCallBack callback, void *user);
TRV_PLAY_API int TRV_PLAY_SetPlayPos(int port, float relativePos);
TRV_PLAY_API float TRV_PLAY_GetPlayPos(int port);

/* Streams. */
TRV_PLAY_API int TRV_PLAY_OpenStream(
    int port, const unsigned char *head, unsigned int headLength, unsigned int poolSize);
TRV_PLAY_API int TRV_PLAY_CloseStream(int port);
TRV_PLAY_API int TRV_PLAY_InputData(int port, const unsigned char *data, unsigned int length);
TRV_PLAY_API int TRV_PLAY_SetStreamOpenMode(int port, unsigned int mode);
TRV_PLAY_API int TRV_PLAY_ResetSourceBuffer(int port);
TRV_PLAY_API unsigned int TRV_PLAY_GetSourceBufferRemain(int port);
TRV_PLAY_API unsigned int TRV_PLAY_GetBufferValue(int port, int type);

/* Playing. */
TRV_PLAY_API int TRV_PLAY_Play(int port, TRV_PLAY_WND window);
TRV_PLAY_API int TRV_PLAY_Stop(int port);
TRV_PLAY_API int TRV_PLAY_Pause(int port, unsigned int pause);
TRV_PLAY_API int TRV_PLAY_Fast(int port);
TRV_PLAY_API int TRV_PLAY_Slow(int port);
TRV_PLAY_API int TRV_PLAY_StepForward(int port);
TRV_PLAY_API int TRV_PLAY_StepBackward(int port);
TRV_PLAY_API int TRV_PLAY_SetDisplayBufferCount(int port, unsigned int frames);
TRV_PLAY_API int64_t TRV_PLAY_GetCurrentTimeStamp(int port);

/* Drawing. */
TRV_PLAY_API int TRV_PLAY_SetDisplayRegion(
    int port, unsigned int regionNumber, const TRV_PLAY_RECT *rect, TRV_PLAY_WND window, int enable);
TRV_PLAY_API int TRV_PLAY_RegisterDrawCallBack(int port, TRV_PLAY_DrawCallBack callback, void *user);
TRV_PLAY_API int TRV_PLAY_SetRenderMode(int port, int enable, int mode);
TRV_PLAY_API int TRV_PLAY_SetOriginalDisplay(int port, unsigned int regionNumber, const int *enable);
TRV_PLAY_API int TRV_PLAY_GetPictureSize(int port, int *width, int *height);
TRV_PLAY_API int TRV_PLAY_SetColor(
    int port, unsigned int regionNumber, int brightness, int contrast, int saturation, int hue);
TRV_PLAY_API int TRV_PLAY_GetColor(
    int port, unsigned int regionNumber, int *brightness, int *contrast, int *saturation, int *hue);

/* Snapshots, recording, conversion. */
TRV_PLAY_API int TRV_PLAY_CatchPicture(
    int port, unsigned char *buffer, unsigned int size, int *width, int *height, int type);
TRV_PLAY_API int TRV_PLAY_StartDataRecord(int port, const char *fileName, int type);
TRV_PLAY_API int TRV_PLAY_StopDataRecord(int port);
TRV_PLAY_API int TRV_PLAY_ConvertFile(
    const char *source, const char *target, int type, TRV_PLAY_ConvertProgressCallBack callback, void *user);

/* Sound: one output shared by the whole process. */
TRV_PLAY_API int TRV_PLAY_PlaySound(int port);
TRV_PLAY_API int TRV_PLAY_StopSound(void);
TRV_PLAY_API int TRV_PLAY_PlaySoundShare(int port);
TRV_PLAY_API int TRV_PLAY_StopSoundShare(int port);
TRV_PLAY_API int TRV_PLAY_SetVolume(int port, unsigned short volume);
TRV_PLAY_API unsigned short TRV_PLAY_GetVolume(int port);

/* Microphone capture: blocks of exactly `blockLength` bytes of 16-bit PCM. */
TRV_PLAY_API int TRV_PLAY_StartAudioCapture(
    TRV_PLAY_AudioCaptureCallBack callback, int bitsPerSample, int sampleRate, int blockLength, void *user);
TRV_PLAY_API int TRV_PLAY_StopAudioCapture(void);

TRV_PLAY_API int TRV_PLAY_GetLastError(int port);

#ifdef __cplusplus
}
#endif

#endif /* LUMAREL_LUMAREL_H */
