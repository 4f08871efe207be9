// CPU cost of live streams of the device library: 64 channels of the extra
// stream (352x288, 25 frames per second) delivered to a callback that only
// counts them, for 10 s (or the seconds given as the first argument).

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

struct Counter
{
    std::atomic<long> frames { 0 };
    std::atomic<long> bytes { 0 };
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    auto *c = static_cast<Counter *>(user);
    if (frame->frameType == TRV_FRAME_VIDEO) {
        c->frames.fetch_add(1, std::memory_order_relaxed);
        c->bytes.fetch_add(frame->length, std::memory_order_relaxed);
    }
    return 1;
}

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    constexpr int kChannels = 64;
    kestrix::control::setDefaultChannels(kChannels);
    TRV_NET_Init(nullptr, nullptr);
    TRV_DEVICE_INFO info;
    int error = 0;
    const int login = TRV_NET_Login("192.0.2.1", 34567, "admin", "", &info, &error, TRV_LOGIN_BY_ADDRESS);
    if (login <= 0) {
        std::fprintf(stderr, "login failed: %d\n", error);
        return 1;
    }
    std::vector<Counter> counters(kChannels);
    std::vector<int> handles;
    const auto setupStart = std::chrono::steady_clock::now();
    for (int c = 0; c < kChannels; ++c) {
        TRV_STREAM_REQUEST req = {};
        req.channel = c;
        req.streamType = TRV_STREAM_EXTRA;
        const int h = TRV_NET_RealPlay(login, &req, 0);
        TRV_NET_SetRealDataCallBack_V2(h, onFrame, &counters[size_t(c)]);
        handles.push_back(h);
    }
    // Wait until every channel's loop is encoded and its frames flow.
    for (;;) {
        bool all = true;
        for (const Counter &c : counters)
            all = all && c.frames.load() > 0;
        if (all)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double setup = std::chrono::duration<double>(std::chrono::steady_clock::now() - setupStart).count();

    long frames0 = 0, bytes0 = 0;
    for (const Counter &c : counters) {
        frames0 += c.frames.load();
        bytes0 += c.bytes.load();
    }
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    long frames = -frames0, bytes = -bytes0;
    for (const Counter &c : counters) {
        frames += c.frames.load();
        bytes += c.bytes.load();
    }
    for (int h : handles)
        TRV_NET_StopRealPlay(h, 0);
    TRV_NET_Logout(login);
    TRV_NET_Cleanup();

    std::printf("kestrix live streams: %d channels, extra stream %dx%d\n", kChannels, 352, 288);
    std::printf("  first frames of all channels after %.2f s (loops encoded once per channel)\n", setup);
    std::printf("  %.1f s: %ld video frames (%.1f per channel per second), %.1f MB\n", wall, frames,
        double(frames) / kChannels / wall, double(bytes) / 1e6);
    std::printf("  CPU: %.3f s in %.1f s = %.1f %% of one core (%.2f %% per channel)\n", cpu, wall,
        100.0 * cpu / wall, 100.0 * cpu / wall / kChannels);
    return 0;
}
