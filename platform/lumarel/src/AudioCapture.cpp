#include "AudioCapture.h"

#include "SoundServer.h"

#include <pulse/context.h>
#include <pulse/stream.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

uint32_t le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// Reads the first channel of a 16-bit PCM WAV file; false for anything else.
bool readWav(const char *path, std::vector<int16_t> *samples, int *rate)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0
        || std::memcmp(data.data() + 8, "WAVE", 4) != 0)
        return false;
    int channels = 0;
    int bits = 0;
    size_t pos = 12;
    while (pos + 8 <= data.size()) {
        const uint32_t size = le32(&data[pos + 4]);
        const size_t body = pos + 8;
        if (size > data.size() - body)
            return false;
        if (std::memcmp(&data[pos], "fmt ", 4) == 0 && size >= 16) {
            if (le16(&data[body]) != 1) // PCM only
                return false;
            channels = le16(&data[body + 2]);
            *rate = int(le32(&data[body + 4]));
            bits = le16(&data[body + 14]);
        } else if (std::memcmp(&data[pos], "data", 4) == 0) {
            if (channels <= 0 || bits != 16 || *rate <= 0)
                return false;
            const size_t frames = size / (2 * size_t(channels));
            samples->resize(frames);
            for (size_t i = 0; i < frames; ++i)
                (*samples)[i] = int16_t(le16(&data[body + i * 2 * size_t(channels)]));
            return frames > 0;
        }
        pos = body + size + (size & 1);
    }
    return false;
}

struct Capture
{
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
    bool running = false;
    bool stopRequested = false;
    std::thread::id threadId;
    uint64_t generation = 0; // a capture thread runs while this is its own
    int64_t blocks = 0;

    // The sound server's microphone: what the capture asks for, and what
    // came in (the main loop's thread appends, the capture thread takes).
    enum class Stream { None, Opening, Ready, Failed };
    bool wantStream = false;
    Stream stream = Stream::None;
    uint64_t streamFor = 0; // the generation the stream is asked for
    int rate = 0;
    int blockLength = 0;
    std::deque<char> pending;
    // The main loop's thread alone, without the lock.
    pa_stream *record = nullptr;
    uint64_t recordFor = 0;
};

// Never destroyed: the sound server's thread may use it until the process ends.
Capture &capture()
{
    static Capture *c = new Capture;
    return *c;
}

void closeRecord(Capture &c)
{
    if (!c.record)
        return;
    pa_stream_set_read_callback(c.record, nullptr, nullptr);
    pa_stream_set_state_callback(c.record, nullptr, nullptr);
    pa_stream_disconnect(c.record);
    pa_stream_unref(c.record);
    c.record = nullptr;
}

// The main loop's thread: what the source sent.
void onReadable(pa_stream *stream, size_t, void *)
{
    Capture &c = capture();
    const void *data = nullptr;
    size_t bytes = 0;
    bool got = false;
    if (stream != c.record)
        return;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            if (data) { // else a hole in the recording
                const char *p = static_cast<const char *>(data);
                c.pending.insert(c.pending.end(), p, p + bytes);
                got = true;
            }
            pa_stream_drop(stream);
        }
        // A capture thread held up by its callback loses the oldest second.
        const size_t most = size_t(c.rate) * 2 + size_t(c.blockLength);
        if (c.pending.size() > most)
            c.pending.erase(c.pending.begin(), c.pending.begin() + std::ptrdiff_t(c.pending.size() - most));
    }
    if (got)
        c.wake.notify_all();
}

void onStreamState(pa_stream *stream, void *)
{
    Capture &c = capture();
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (stream != c.record)
        return;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.streamFor != c.recordFor) // a stream of an earlier capture
            return;
        if (state == PA_STREAM_READY)
            c.stream = Capture::Stream::Ready;
        else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            c.stream = Capture::Stream::Failed;
        else
            return;
    }
    c.wake.notify_all();
}

// The main loop's thread: opens and closes the microphone's stream as the
// capture asks. The stream's callbacks may run inside the calls that make
// it, so those run without the capture's lock.
void syncRecord(pa_context *context)
{
    Capture &c = capture();
    bool want;
    bool open;
    uint64_t streamFor;
    int rate;
    int blockLength;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        want = c.wantStream;
        open = c.stream == Capture::Stream::Opening;
        streamFor = c.streamFor;
        rate = c.rate;
        blockLength = c.blockLength;
    }
    if (c.record && (!context || !want || c.recordFor != streamFor))
        closeRecord(c);
    bool failed = !context;
    if (context && want && !c.record && open) {
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_S16LE;
        spec.rate = uint32_t(rate);
        spec.channels = 1;
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(blockLength);
        c.record = pa_stream_new(context, "microphone", &spec, nullptr);
        c.recordFor = streamFor;
        if (c.record) {
            pa_stream_set_state_callback(c.record, onStreamState, nullptr);
            pa_stream_set_read_callback(c.record, onReadable, nullptr);
            // The default source (PULSE_SOURCE, or the server's default).
            if (pa_stream_connect_record(c.record, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0)
                closeRecord(c);
        }
        failed = !c.record;
    }
    if (!failed)
        return;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.streamFor == streamFor
            && (c.stream == Capture::Stream::Opening || c.stream == Capture::Stream::Ready))
            c.stream = Capture::Stream::Failed;
    }
    c.wake.notify_all();
}

// Ends a capture still running when the process ends, before the objects
// its callback uses are destroyed.
struct StopAtExit
{
    ~StopAtExit()
    {
        Capture &c = capture();
        std::thread t;
        {
            std::lock_guard<std::mutex> lock(c.mutex);
            c.stopRequested = true;
            t = std::move(c.thread);
        }
        c.wake.notify_all();
        if (t.joinable() && t.get_id() != std::this_thread::get_id())
            t.join();
        else if (t.joinable())
            t.detach();
    }
};

void registerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { SoundServer::addClient(&syncRecord); });
}

// Opens the microphone's stream for a capture (c.mutex held by `lock`);
// false when the server is missing or refused it.
bool openServerStream(
    Capture &c, std::unique_lock<std::mutex> &lock, uint64_t generation, int rate, int blockLength)
{
    registerOnce();
    lock.unlock();
    const bool up = SoundServer::waitConnected(3000);
    lock.lock();
    if (!up)
        return false;
    c.wantStream = true;
    c.stream = Capture::Stream::Opening;
    c.streamFor = generation;
    c.rate = rate;
    c.blockLength = blockLength;
    c.pending.clear();
    lock.unlock();
    SoundServer::wake(false);
    lock.lock();
    const bool settled = c.wake.wait_for(lock, std::chrono::seconds(3),
        [&c] { return c.stream == Capture::Stream::Ready || c.stream == Capture::Stream::Failed; });
    if (settled && c.stream == Capture::Stream::Ready)
        return true;
    c.wantStream = false;
    c.stream = Capture::Stream::None;
    lock.unlock();
    SoundServer::wake(false);
    lock.lock();
    return false;
}

// The capture thread of a capture from the sound server: a block as soon as
// the source has sent enough for one.
void runServer(uint64_t generation, TRV_PLAY_AudioCaptureCallBack callback, int blockLength, void *user)
{
    Capture &c = capture();
    std::vector<char> block(static_cast<size_t>(blockLength));
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(c.mutex);
            const auto stopped = [&c, generation] { return c.stopRequested || c.generation != generation; };
            c.wake.wait(lock, [&] { return stopped() || c.pending.size() >= block.size(); });
            if (stopped())
                break;
            std::copy(c.pending.begin(), c.pending.begin() + std::ptrdiff_t(block.size()), block.begin());
            c.pending.erase(c.pending.begin(), c.pending.begin() + std::ptrdiff_t(block.size()));
        }
        callback(block.data(), unsigned(blockLength), user);
        std::lock_guard<std::mutex> lock(c.mutex);
        ++c.blocks;
    }
}

// The capture thread of a capture from a WAV file, paced in real time.
void runWav(uint64_t generation, TRV_PLAY_AudioCaptureCallBack callback, int rate, int blockLength,
    void *user, std::vector<int16_t> wav, int wavRate)
{
    Capture &c = capture();
    const size_t perBlock = size_t(blockLength) / 2;
    std::vector<int16_t> block(perBlock);
    double wavPos = 0;
    const double wavStep = double(wavRate) / double(rate);
    const auto blockTime = std::chrono::microseconds(int64_t(perBlock) * 1000000 / rate);
    auto due = std::chrono::steady_clock::now() + blockTime;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(c.mutex);
            const auto stopped = [&c, generation] { return c.stopRequested || c.generation != generation; };
            c.wake.wait_until(lock, due, stopped);
            if (stopped())
                break;
        }
        for (size_t i = 0; i < perBlock; ++i) {
            block[i] = wav[size_t(wavPos)];
            wavPos += wavStep;
            if (wavPos >= double(wav.size()))
                wavPos = 0;
        }
        callback(reinterpret_cast<const char *>(block.data()), unsigned(blockLength), user);
        {
            std::lock_guard<std::mutex> lock(c.mutex);
            ++c.blocks;
        }
        due += blockTime;
        // After a stall, go on from now instead of catching up in a burst.
        const auto now = std::chrono::steady_clock::now();
        if (due + blockTime * 5 < now)
            due = now + blockTime;
    }
}

} // namespace

namespace AudioCapture {

int start(
    TRV_PLAY_AudioCaptureCallBack callback, int bitsPerSample, int sampleRate, int blockLength, void *user)
{
    if (!callback || bitsPerSample != 16 || sampleRate < 1000 || sampleRate > 192000 || blockLength < 2
        || blockLength % 2 != 0 || blockLength > (1 << 20))
        return TRV_PLAY_ERR_PARA;
    std::vector<int16_t> wav;
    int wavRate = 0;
    const char *path = std::getenv(kWavVariable);
    const bool fromWav = path && *path;
    if (fromWav && !readWav(path, &wav, &wavRate))
        return TRV_PLAY_ERR_OPEN_FILE;
    Capture &c = capture();
    static StopAtExit stopAtExit;
    std::unique_lock<std::mutex> lock(c.mutex);
    if (c.running && !c.stopRequested)
        return TRV_PLAY_ERR_BUSY;
    // A capture stopped from its own callback is joined here.
    if (c.thread.joinable() && c.thread.get_id() == std::this_thread::get_id()) {
        c.thread.detach(); // restarted from the old capture's own callback; it ends on return
    } else if (c.thread.joinable()) {
        lock.unlock();
        c.thread.join();
        lock.lock();
    }
    c.stopRequested = false;
    c.running = true;
    const uint64_t generation = ++c.generation;
    if (fromWav) {
        c.thread = std::thread(
            runWav, generation, callback, sampleRate, blockLength, user, std::move(wav), wavRate);
    } else {
        // Another start may come in while this one waits for the server: it is busy.
        if (!openServerStream(c, lock, generation, sampleRate, blockLength)) {
            if (c.generation == generation)
                c.running = false;
            return TRV_PLAY_ERR_AUDIO_DEVICE;
        }
        if (c.generation != generation || c.stopRequested) { // stopped meanwhile
            c.wantStream = false;
            lock.unlock();
            SoundServer::wake(false);
            return TRV_PLAY_ERR_AUDIO_DEVICE;
        }
        c.thread = std::thread(runServer, generation, callback, blockLength, user);
    }
    c.threadId = c.thread.get_id();
    return TRV_PLAY_NOERROR;
}

bool stop()
{
    Capture &c = capture();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!c.running)
        return false;
    c.stopRequested = true;
    c.running = false;
    const bool closeStream = c.wantStream;
    c.wantStream = false;
    c.stream = Capture::Stream::None;
    c.pending.clear();
    c.wake.notify_all();
    if (closeStream) {
        lock.unlock();
        SoundServer::wake(false);
        lock.lock();
    }
    if (std::this_thread::get_id() == c.threadId)
        return true; // from the callback: the thread ends when it returns
    std::thread t = std::move(c.thread);
    lock.unlock();
    if (t.joinable())
        t.join();
    return true;
}

bool running()
{
    Capture &c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.running;
}

int64_t blocksDelivered()
{
    Capture &c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.blocks;
}

} // namespace AudioCapture
