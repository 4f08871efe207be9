#pragma once

// The one sound output of the process. A port takes it with
// TRV_PLAY_PlaySound (and loses it to the next one, or to TRV_PLAY_StopSound);
// ports in share mode play into it as well. There is no audio device here:
// the output counts the samples it would have played.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SoundOutput {

void setOwner(int port); // -1: silence the exclusive output
int owner();
void addShare(int port);
bool removeShare(int port); // false when the port was not sharing
std::vector<int> shares();
// Forgets a port that closes.
void releasePort(int port);

// Plays samples of a port; returns how many reached the output (0 when the
// port has no sound).
int64_t play(int port, const int16_t *samples, size_t count, int sampleRate);
int64_t totalSamples();

} // namespace SoundOutput
