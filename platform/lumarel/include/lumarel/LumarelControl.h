#pragma once

// Test control of the play library: what each port did, read without a
// screen. For tests only; the player never includes this header.

#include "lumarel/lumarel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace LumarelControl {

struct PortStats
{
    bool open = false; // a stream or file is open on the port
    bool filePort = false; // opened with TRV_PLAY_OpenFile
    bool playing = false; // between TRV_PLAY_Play and TRV_PLAY_Stop
    bool paused = false;
    int speed = 0; // 0 normal, 1..4 fast, -1..-4 slow
    unsigned int streamMode = 0; // TRV_PLAY_STREAM_REALTIME or TRV_PLAY_STREAM_FILE
    unsigned int poolSize = 0;
    int64_t blocksAccepted = 0; // complete blocks taken into the pool
    int64_t blocksDropped = 0; // blocks dropped because the pool was full
    int64_t framesDecoded = 0; // pictures out of the decoder
    int64_t framesShown = 0; // pictures presented (scaled for the window, if any)
    int64_t framesDrawn = 0; // distinct pictures painted on the GUI thread
    int64_t framesQueued = 0; // pictures handed to the window to show at a later time
    int64_t framesStraight = 0; // pictures put straight into the X window, past Qt's painting
    int64_t framesShared = 0; // of those, read by the X server from the shared memory they were scaled into
    int64_t drawCallbacks = 0; // calls of the registered draw callback
    int64_t audioSamplesDecoded = 0;
    int64_t soundSamples = 0; // samples of this port that reached the sound output
    int videoCodec = 0; // StreamCodec of the last video block, 0 before any
    int width = 0;
    int height = 0;
    bool hasWindow = false; // a render surface sits in a widget
    int renderMode = 0; // TRV_PLAY_SetRenderMode value
    unsigned int displayBufferCount = 0;
    bool originalDisplay = false;
    bool regionEnabled = false;
    TRV_PLAY_RECT region { 0, 0, TRV_PLAY_REGION_SPACE, TRV_PLAY_REGION_SPACE };
    bool recording = false;
    int64_t fileEndCalls = 0;
};

// False when the port number is outside 0..TRV_PLAY_MAX_PORT-1.
TRV_PLAY_API bool portStats(int port, PortStats *stats);

// The shared sound output.
TRV_PLAY_API int soundOwner(); // port given the output by TRV_PLAY_PlaySound, or -1
TRV_PLAY_API std::vector<int> soundSharePorts();
TRV_PLAY_API int64_t soundOutputSamples(); // all samples the output received

// Audio capture.
TRV_PLAY_API bool audioCaptureRunning();
TRV_PLAY_API int64_t audioCaptureBlocks();

// Every public call, in order, as "Name(port)" or "Name" for calls without a port.
TRV_PLAY_API std::vector<std::string> calls();
TRV_PLAY_API void clearCalls();

// Conversions still running on the library's threads.
TRV_PLAY_API int runningConversions();

// Whether live windows at most half the picture's size decode their pictures
// a few at a time and show each at its time, a few pictures later (the
// default), or each picture as it comes. For benchmarks comparing both.
TRV_PLAY_API void setSmallWindowBursts(bool on);

// Whether pictures may go straight into X windows (the default) or are all
// painted through Qt. For benchmarks comparing both.
TRV_PLAY_API void setStraightDrawing(bool on);

// Whether ports opened from now on share the decode pool's few threads (the
// default) or each decodes on a thread of its own. For benchmarks comparing both.
TRV_PLAY_API void setPooledDecoding(bool on);

} // namespace LumarelControl
