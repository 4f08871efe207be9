#pragma once

// The microphone: blocks of 16-bit PCM of exactly the requested size, on a
// capture thread of its own, paced in real time. The samples come from the
// WAV file named by LUMAREL_CAPTURE_WAV (16-bit PCM, played in a loop), or
// are a generated 440 Hz tone.

#include "lumarel/lumarel.h"

#include <cstdint>

namespace AudioCapture {

constexpr const char *kWavVariable = "LUMAREL_CAPTURE_WAV";

// 0 on success, else a TRV_PLAY_ERR_ code.
int start(
    TRV_PLAY_AudioCaptureCallBack callback, int bitsPerSample, int sampleRate, int blockLength, void *user);
// Returns after the last callback has returned (except when called from the
// callback itself, which ends the capture after it returns). False when no
// capture was running.
bool stop();
bool running();
int64_t blocksDelivered();

} // namespace AudioCapture
