#pragma once

// The microphone: blocks of 16-bit PCM of exactly the requested size, on a
// capture thread of its own. The samples come from the sound server's
// default source (SoundServer), paced by it, or, when LUMAREL_CAPTURE_WAV
// names one, from a WAV file (16-bit PCM, played in a loop in real time).
// Without a server and without the file, a capture does not start.

#include "lumarel/lumarel.h"

#include <cstdint>

namespace AudioCapture {

constexpr const char *kWavVariable = "LUMAREL_CAPTURE_WAV";

// 0 on success, else a TRV_PLAY_ERR_ code (TRV_PLAY_ERR_AUDIO_DEVICE: no
// sound server, or it refused the microphone). May wait for the server.
int start(
    TRV_PLAY_AudioCaptureCallBack callback, int bitsPerSample, int sampleRate, int blockLength, void *user);
// Returns after the last callback has returned (except when called from the
// callback itself, which ends the capture after it returns). False when no
// capture was running.
bool stop();
bool running();
int64_t blocksDelivered();

} // namespace AudioCapture
