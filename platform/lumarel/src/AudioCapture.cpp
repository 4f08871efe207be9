#include "AudioCapture.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
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

    ~Capture()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = true;
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
    }
};

Capture &capture()
{
    static Capture c;
    return c;
}

void run(uint64_t generation, TRV_PLAY_AudioCaptureCallBack callback, int rate, int blockLength, void *user,
    std::vector<int16_t> wav, int wavRate)
{
    Capture &c = capture();
    const size_t perBlock = size_t(blockLength) / 2;
    std::vector<int16_t> block(perBlock);
    double phase = 0;
    double wavPos = 0;
    const double wavStep = wav.empty() ? 0 : double(wavRate) / double(rate);
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
            if (wav.empty()) {
                block[i] = int16_t(8000.0 * std::sin(phase));
                phase += 2 * M_PI * 440.0 / rate;
                if (phase > 2 * M_PI)
                    phase -= 2 * M_PI;
            } else {
                block[i] = wav[size_t(wavPos)];
                wavPos += wavStep;
                if (wavPos >= double(wav.size()))
                    wavPos = 0;
            }
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
    if (const char *path = std::getenv(kWavVariable); path && *path) {
        if (!readWav(path, &wav, &wavRate))
            return TRV_PLAY_ERR_OPEN_FILE;
    }
    Capture &c = capture();
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
    ++c.generation;
    c.thread
        = std::thread(run, c.generation, callback, sampleRate, blockLength, user, std::move(wav), wavRate);
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
    c.wake.notify_all();
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
