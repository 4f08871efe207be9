#include "SoundOutput.h"

#include "SoundServer.h"

#include <pulse/context.h>
#include <pulse/stream.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace {

struct PortSound
{
    std::deque<int16_t> queue; // decoded, not yet given to the server
    int rate = 0; // of the port's audio; 0 before its first block
    bool flush = false; // the server's part is to be dropped too
    // The main loop's thread alone.
    pa_stream *stream = nullptr;
    int streamRate = 0;
};

struct Output
{
    std::mutex mutex;
    int owner = -1;
    std::vector<int> shares;
    int64_t samples = 0;
    bool serverUp = false;
    std::map<int, PortSound> ports; // the ports that have the sound
    std::vector<pa_stream *> closing; // of ports that lost it, for the main loop to close
};

// Never destroyed: the sound server's thread may use it until the process ends.
Output &output()
{
    static Output *o = new Output;
    return *o;
}

uint32_t bytesFor(int rate, int ms)
{
    return uint32_t(rate / 1000 * ms * 2);
}

bool audibleLocked(const Output &o, int port)
{
    return port >= 0
        && (o.owner == port || std::find(o.shares.begin(), o.shares.end(), port) != o.shares.end());
}

// Brings the table of streams in line with who has the sound (o.mutex held).
void updateLocked(Output &o)
{
    for (auto it = o.ports.begin(); it != o.ports.end();) {
        if (audibleLocked(o, it->first)) {
            ++it;
            continue;
        }
        if (it->second.stream)
            o.closing.push_back(it->second.stream);
        it = o.ports.erase(it);
    }
    auto take = [&o](int port) {
        if (port >= 0)
            o.ports.try_emplace(port);
    };
    take(o.owner);
    for (int port : o.shares)
        take(port);
}

void closeStream(pa_stream *stream)
{
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

// Gives the server what it can take of the port's queue (main loop, o.mutex held).
void feed(PortSound &p)
{
    if (!p.stream || pa_stream_get_state(p.stream) != PA_STREAM_READY)
        return;
    const size_t writable = pa_stream_writable_size(p.stream);
    if (writable == size_t(-1))
        return;
    const size_t count = std::min(writable / 2, p.queue.size());
    if (count == 0)
        return;
    void *buffer = nullptr;
    size_t bytes = count * 2;
    if (pa_stream_begin_write(p.stream, &buffer, &bytes) < 0 || !buffer)
        return;
    const size_t n = std::min(count, bytes / 2);
    std::copy(p.queue.begin(), p.queue.begin() + std::ptrdiff_t(n), static_cast<int16_t *>(buffer));
    p.queue.erase(p.queue.begin(), p.queue.begin() + std::ptrdiff_t(n));
    pa_stream_write(p.stream, buffer, n * 2, nullptr, 0, PA_SEEK_RELATIVE);
}

void onWritable(pa_stream *stream, size_t, void *user)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    auto it = o.ports.find(int(reinterpret_cast<intptr_t>(user)));
    if (it != o.ports.end() && it->second.stream == stream)
        feed(it->second);
}

void openStream(pa_context *context, int port, PortSound &p)
{
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = uint32_t(p.rate);
    spec.channels = 1;
    const std::string name = "port " + std::to_string(port);
    p.stream = pa_stream_new(context, name.c_str(), &spec, nullptr);
    if (!p.stream)
        return;
    p.streamRate = p.rate;
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = bytesFor(p.rate, SoundOutput::kServerBufferMs);
    attr.prebuf = bytesFor(p.rate, 20);
    attr.minreq = bytesFor(p.rate, 10);
    attr.fragsize = uint32_t(-1);
    pa_stream_set_write_callback(p.stream, onWritable, reinterpret_cast<void *>(intptr_t(port)));
    // The default sink (PULSE_SINK, or the server's default).
    if (pa_stream_connect_playback(p.stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr)
        < 0) {
        pa_stream_unref(p.stream);
        p.stream = nullptr;
    }
}

// The main loop's thread: opens, closes, flushes and feeds the streams.
void sync(pa_context *context)
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    for (pa_stream *s : o.closing)
        closeStream(s);
    o.closing.clear();
    o.serverUp = context != nullptr;
    for (auto &[port, p] : o.ports) {
        if (!context) {
            // Died with the old context.
            if (p.stream)
                pa_stream_unref(p.stream);
            p.stream = nullptr;
            p.queue.clear();
            continue;
        }
        if (p.stream && (p.streamRate != p.rate || pa_stream_get_state(p.stream) == PA_STREAM_FAILED)) {
            closeStream(p.stream);
            p.stream = nullptr;
        }
        if (!p.stream && p.rate > 0)
            openStream(context, port, p);
        if (p.flush && p.stream) {
            if (pa_operation *flushing = pa_stream_flush(p.stream, nullptr, nullptr))
                pa_operation_unref(flushing);
        }
        p.flush = false;
        feed(p);
    }
}

void registerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { SoundServer::addClient(&sync); });
}

// After a change of who has the sound: has the streams follow, and asks for
// the server when a port took the sound.
void changed(bool taken)
{
    registerOnce();
    SoundServer::wake(taken);
}

} // namespace

namespace SoundOutput {

void setOwner(int port)
{
    Output &o = output();
    bool gained;
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        o.owner = port;
        updateLocked(o);
        gained = port >= 0;
    }
    // A port taking the sound asks for the server again, after it went away.
    changed(gained);
}

int owner()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.owner;
}

void addShare(int port)
{
    Output &o = output();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        if (std::find(o.shares.begin(), o.shares.end(), port) == o.shares.end())
            o.shares.push_back(port);
        updateLocked(o);
    }
    changed(true);
}

bool removeShare(int port)
{
    Output &o = output();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        auto it = std::find(o.shares.begin(), o.shares.end(), port);
        if (it == o.shares.end())
            return false;
        o.shares.erase(it);
        updateLocked(o);
    }
    changed(false);
    return true;
}

std::vector<int> shares()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.shares;
}

void releasePort(int port)
{
    Output &o = output();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        if (!audibleLocked(o, port))
            return;
        if (o.owner == port)
            o.owner = -1;
        o.shares.erase(std::remove(o.shares.begin(), o.shares.end(), port), o.shares.end());
        updateLocked(o);
    }
    changed(false);
}

void flush(int port)
{
    Output &o = output();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        auto it = o.ports.find(port);
        if (it == o.ports.end())
            return;
        it->second.queue.clear();
        it->second.flush = true;
    }
    changed(false);
}

int64_t play(int port, const int16_t *samples, size_t count, int sampleRate)
{
    Output &o = output();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        auto it = o.ports.find(port);
        if (it == o.ports.end())
            return 0;
        o.samples += int64_t(count);
        if (sampleRate < 1000 || sampleRate > 192000)
            return int64_t(count);
        PortSound &p = it->second;
        if (p.rate != sampleRate) {
            p.rate = sampleRate; // the stream is opened at this rate once the server is there
            p.queue.clear();
        }
        if (!o.serverUp)
            return int64_t(count); // silent
        p.queue.insert(p.queue.end(), samples, samples + count);
        const size_t most = size_t(sampleRate) * size_t(kMaxQueuedMs) / 1000;
        if (p.queue.size() > most)
            p.queue.erase(p.queue.begin(), p.queue.begin() + std::ptrdiff_t(p.queue.size() - most));
    }
    SoundServer::wake(false);
    return int64_t(count);
}

int64_t totalSamples()
{
    Output &o = output();
    std::lock_guard<std::mutex> lock(o.mutex);
    return o.samples;
}

} // namespace SoundOutput
