#pragma once

// The one sound output of the process. A port takes it with
// TRV_PLAY_PlaySound (and loses it to the next one, or to TRV_PLAY_StopSound);
// ports in share mode play into it as well. Each port that has the sound
// plays through a stream of its own on the sound server (SoundServer), which
// mixes them; the stream is opened when the port gets the sound and closed
// when it loses it. Without a server the output counts the samples and stays
// silent.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SoundOutput {

// At most this much of a port's audio waits for the server: audio that
// comes faster than real time is dropped (the oldest first).
constexpr int kMaxQueuedMs = 150;
// What the server holds of a stream before it reaches the speaker.
constexpr int kServerBufferMs = 80;

void setOwner(int port); // -1: silence the exclusive output
int owner();
void addShare(int port);
bool removeShare(int port); // false when the port was not sharing
std::vector<int> shares();
// Forgets a port that closes.
void releasePort(int port);
// Drops what the port has queued, here and in the server (pause, stop,
// speed changes): silent at once instead of playing it out.
void flush(int port);

// Plays samples of a port; returns how many reached the output (0 when the
// port has no sound). Any thread; never waits on the server.
int64_t play(int port, const int16_t *samples, size_t count, int sampleRate);
int64_t totalSamples();

} // namespace SoundOutput
