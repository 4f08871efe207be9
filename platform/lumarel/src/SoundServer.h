#pragma once

// The process's one link to the desktop's sound server (libpulse): a
// threaded main loop and a context, made on first use. Sound output and
// capture keep their streams on the main loop's thread; other threads only
// change their own state and wake that thread, so no decode or drawing
// thread ever waits on the server. The devices are the server's defaults
// (PULSE_SERVER, PULSE_SINK and PULSE_SOURCE as libpulse reads them).
//
// When the server cannot be reached or goes away, one warning goes to the
// "lumarel.sound" log category (the player writes it to its log); the next
// wake() that asks for the server tries again.

#include <functional>
#include <mutex>

struct pa_context;

namespace SoundServer {

// Called on the main loop's thread after every wake and every change of the
// connection: with the context when it is ready, else null (the client then
// forgets its streams, which died with the old context).
using Client = std::function<void(pa_context *ready)>;
// Clients are added once, before their first wake().
void addClient(Client client);

// Has the clients called on the main loop's thread soon; with `connect`,
// connects first when the server is not connected. Never blocks on the
// server.
void wake(bool connect);
// Connects when not connected and waits (at most `timeoutMs`) until the
// server is reachable or the attempt failed. For callers that may wait.
bool waitConnected(int timeoutMs);
// Whether the context is ready now.
bool connected();

// Logs a warning of the sound parts under "lumarel.sound".
void warn(const char *text);

} // namespace SoundServer
