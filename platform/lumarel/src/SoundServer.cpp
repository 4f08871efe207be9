#include "SoundServer.h"

#include <QLoggingCategory>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/thread-mainloop.h>

#include <condition_variable>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcSound, "lumarel.sound")

struct Server
{
    std::mutex mutex;
    std::condition_variable settled;
    std::vector<SoundServer::Client> clients;
    bool started = false;
    int eventFd = -1;
    pa_threaded_mainloop *loop = nullptr;
    bool ready = false;
    uint64_t connectRequests = 0; // wakes that asked for the server
    uint64_t answered = 0; // of those, how many an attempt has answered

    // The main loop's thread alone.
    pa_context *context = nullptr;
    uint64_t attemptFor = 0; // the requests the running attempt answers
    bool warned = false; // since the server was last reachable
};

// Never destroyed: the main loop's thread may run until the process ends.
Server &server()
{
    static Server *s = new Server;
    return *s;
}

void callClients(pa_context *ready)
{
    Server &s = server();
    std::vector<SoundServer::Client> clients;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        clients = s.clients;
    }
    for (const SoundServer::Client &c : clients)
        c(ready);
}

void settle(bool ready)
{
    Server &s = server();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ready = ready;
        s.answered = s.attemptFor;
    }
    s.settled.notify_all();
}

void failed(const char *why)
{
    Server &s = server();
    if (!s.warned) {
        s.warned = true;
        SoundServer::warn(
            (std::string("no sound server (") + why + "): sound is silent and the microphone unavailable")
                .c_str());
    }
    settle(false);
    callClients(nullptr);
}

void onState(pa_context *context, void *)
{
    Server &s = server();
    if (context != s.context)
        return;
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        s.warned = false;
        settle(true);
        callClients(context);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        failed(pa_strerror(pa_context_errno(context)));
        break;
    default:
        break;
    }
}

void startAttempt()
{
    Server &s = server();
    if (s.context) {
        pa_context_set_state_callback(s.context, nullptr, nullptr);
        pa_context_disconnect(s.context);
        pa_context_unref(s.context);
    }
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "play library");
    if (!s.context) {
        failed("no context");
        return;
    }
    pa_context_set_state_callback(s.context, onState, nullptr);
    // Never starts a server of its own: without a desktop's, sound is silent.
    if (pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        failed(pa_strerror(pa_context_errno(s.context)));
}

// The main loop's thread, on every wake().
void onWake(pa_mainloop_api *, pa_io_event *, int fd, pa_io_event_flags_t, void *)
{
    uint64_t count;
    while (read(fd, &count, sizeof count) > 0) { }
    Server &s = server();
    uint64_t requests;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        requests = s.connectRequests;
    }
    const pa_context_state_t state = s.context ? pa_context_get_state(s.context) : PA_CONTEXT_UNCONNECTED;
    const bool down = !s.context || state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
    if (requests > s.attemptFor) {
        s.attemptFor = requests;
        if (state == PA_CONTEXT_READY)
            settle(true);
        else if (down)
            startAttempt(); // settles when it has an answer
    }
    callClients(s.context && pa_context_get_state(s.context) == PA_CONTEXT_READY ? s.context : nullptr);
}

// Starts the main loop on first use; false when that failed.
bool ensureStarted()
{
    Server &s = server();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.started)
        return s.loop != nullptr;
    s.started = true;
    s.eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.loop = s.eventFd >= 0 ? pa_threaded_mainloop_new() : nullptr;
    if (!s.loop) {
        SoundServer::warn("no sound: the sound server's event loop could not be made");
        return false;
    }
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(s.loop);
    api->io_new(api, s.eventFd, PA_IO_EVENT_INPUT, onWake, nullptr);
    pa_threaded_mainloop_set_name(s.loop, "lumarel-sound");
    if (pa_threaded_mainloop_start(s.loop) < 0) {
        SoundServer::warn("no sound: the sound server's event loop did not start");
        pa_threaded_mainloop_free(s.loop);
        s.loop = nullptr;
        return false;
    }
    return true;
}

// Returns the number of this request (0 when the loop is missing).
uint64_t poke(bool connect)
{
    if (!ensureStarted())
        return 0;
    Server &s = server();
    uint64_t request = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (connect)
            request = ++s.connectRequests;
    }
    const uint64_t one = 1;
    // A full counter still wakes the loop.
    [[maybe_unused]] const ssize_t n = write(s.eventFd, &one, sizeof one);
    return request;
}

} // namespace

namespace SoundServer {

void addClient(Client client)
{
    Server &s = server();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.clients.push_back(std::move(client));
}

void wake(bool connect)
{
    poke(connect);
}

bool waitConnected(int timeoutMs)
{
    const uint64_t request = poke(true);
    if (request == 0)
        return false;
    Server &s = server();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
        [&s, request] { return s.ready || s.answered >= request; });
    return s.ready;
}

bool connected()
{
    Server &s = server();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.ready;
}

void warn(const char *text)
{
    qCWarning(lcSound, "%s", text);
}

} // namespace SoundServer
