// Sound of the play library against a private PulseAudio (null sink
// "speaker", recorded from its monitor with parec):
//
// 1. Latency: a port gets 40 ms G.711 blocks in real time, silence with a
//    1 kHz burst every 800 ms; the time from handing the burst's first block
//    to the port (audio blocks are decoded as they come) to its onset at the
//    monitor. parec's own delay (10 ms fragments) is part of the figure.
// 2. CPU: one live stream of the device-library stand-in (352x288 H.264 at
//    25 frames per second, G.711 at 8 kHz) decoded by a port, without a
//    window, for N seconds with the sound off and N with it on, twice; the
//    process's CPU time (/proc/self/stat) and the sound server's.
//
// bench_sound [seconds per CPU phase, default 10]

#include "PulseServer.h"
#include "StreamFrame.h"
#include "kestrix/kestrix.h"
#include "lumarel/lumarel.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 8000;
constexpr int kBlockMs = 40;
constexpr int kBlockBytes = kRate / 1000 * kBlockMs;
const uint8_t kTonePeriod[8] = { 0xd5, 0x95, 0x92, 0x95, 0xd5, 0x15, 0x12, 0x15 }; // 1 kHz, A-law
constexpr uint8_t kSilence = 0xd5;

std::vector<uint8_t> audioBlock(bool tone, uint32_t sequence)
{
    std::vector<uint8_t> block(kStreamFrameHeaderSize + kBlockBytes);
    StreamFrameHeader h;
    h.kind = kFrameAudio;
    h.codec = kCodecG711A;
    h.rate = kRate / 10;
    h.sequence = sequence;
    h.timestampMs = 1 + int64_t(sequence) * kBlockMs;
    h.length = kBlockBytes;
    writeStreamFrameHeader(h, block.data());
    for (int i = 0; i < kBlockBytes; ++i)
        block[kStreamFrameHeaderSize + size_t(i)] = tone ? kTonePeriod[i % 8] : kSilence;
    return block;
}

bool openPlaying(int port)
{
    const unsigned char head = 0;
    return TRV_PLAY_OpenStream(port, &head, 1, 1 << 22) && TRV_PLAY_Play(port, 0);
}

// Clock ticks of a process's user and system time, from /proc/<pid>/stat.
double cpuSecondsOf(qint64 pid)
{
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/stat").arg(pid) : QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

void latency(const PulseServer &pulse)
{
    constexpr int kBursts = 25;
    constexpr int kCycleBlocks = 20; // 800 ms: 5 blocks of tone, 15 of silence
    PulseRecorder speaker(pulse, QStringLiteral("speaker.monitor"), 16000);
    openPlaying(1);
    TRV_PLAY_PlaySound(1);
    std::atomic<int64_t> onsetNs { 0 };
    std::atomic<bool> stop { false };
    std::thread device([&] {
        auto next = Clock::now();
        for (uint32_t seq = 0; !stop; ++seq) {
            const int inCycle = int(seq % kCycleBlocks);
            const bool tone = seq >= 2 * kCycleBlocks && inCycle < 5; // after a settling second
            const std::vector<uint8_t> block = audioBlock(tone, seq);
            if (tone && inCycle == 0)
                onsetNs = Clock::now().time_since_epoch().count();
            TRV_PLAY_InputData(1, block.data(), unsigned(block.size()));
            next += std::chrono::milliseconds(kBlockMs);
            std::this_thread::sleep_until(next);
        }
    });
    std::vector<double> ms;
    bool inTone = false;
    int64_t lastOnset = 0;
    const auto end = Clock::now() + std::chrono::seconds(3 + kBursts);
    while (int(ms.size()) < kBursts && Clock::now() < end) {
        const QVector<qint16> chunk = speaker.take(10);
        const int64_t now = Clock::now().time_since_epoch().count();
        for (int i = 0; i < chunk.size(); ++i) {
            const bool loud = std::abs(chunk[i]) > 2000;
            if (loud && !inTone) {
                const int64_t sent = onsetNs.load();
                const int64_t heard = now - int64_t(chunk.size() - i) * 1000000000LL / 16000;
                if (sent != 0 && sent != lastOnset) {
                    ms.push_back(double(heard - sent) / 1e6);
                    lastOnset = sent;
                }
                inTone = true;
            }
        }
        // The tone ends when a whole chunk is quiet.
        if (std::none_of(chunk.begin(), chunk.end(), [](qint16 s) { return std::abs(s) > 2000; }))
            inTone = false;
    }
    stop = true;
    device.join();
    TRV_PLAY_StopSound();
    TRV_PLAY_CloseStream(1);
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("latency: no onset heard\n");
        return;
    }
    std::printf("latency, decoded block to the speaker's monitor (%zu bursts): min %.1f ms, median %.1f ms, "
                "90th %.1f ms, max %.1f ms\n",
        ms.size(), ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
}

struct Live
{
    std::atomic<long> audio { 0 };
};

int onFrame(int, const TRV_FRAME_INFO *frame, void *user)
{
    if (frame->frameType == TRV_FRAME_AUDIO)
        static_cast<Live *>(user)->audio.fetch_add(1, std::memory_order_relaxed);
    TRV_PLAY_InputData(2, frame->data, frame->length);
    return 1;
}

void cpu(const PulseServer &pulse, int seconds)
{
    TRV_NET_Init(nullptr, nullptr);
    TRV_DEVICE_INFO info;
    int error = 0;
    const int login = TRV_NET_Login("192.0.2.1", 34567, "admin", "", &info, &error, TRV_LOGIN_BY_ADDRESS);
    if (login <= 0) {
        std::printf("cpu: login failed (%d)\n", error);
        return;
    }
    openPlaying(2);
    Live live;
    TRV_STREAM_REQUEST req = {};
    req.channel = 0;
    req.streamType = TRV_STREAM_EXTRA;
    const int handle = TRV_NET_RealPlay(login, &req, 0);
    TRV_NET_SetRealDataCallBack_V2(handle, onFrame, &live);
    while (live.audio.load() < 25)
        std::this_thread::sleep_for(std::chrono::milliseconds(40)); // the stream is up
    double sums[2] = { 0, 0 };
    double server[2] = { 0, 0 };
    double walls[2] = { 0, 0 };
    for (int round = 0; round < 4; ++round) {
        const int on = round % 2;
        if (on)
            TRV_PLAY_PlaySound(2);
        else
            TRV_PLAY_StopSound();
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the stream opens or closes
        const double c0 = cpuSecondsOf(0);
        const double s0 = cpuSecondsOf(pulse.processId());
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        walls[on] += std::chrono::duration<double>(Clock::now() - t0).count();
        sums[on] += cpuSecondsOf(0) - c0;
        server[on] += cpuSecondsOf(pulse.processId()) - s0;
    }
    TRV_PLAY_StopSound();
    TRV_NET_StopRealPlay(handle, 0);
    TRV_NET_Logout(login);
    TRV_PLAY_CloseStream(2);
    std::printf("cpu, one live stream (352x288 H.264 25 fps + G.711 8 kHz), %d s x 2 per state:\n", seconds);
    std::printf("  process: sound off %.2f %%, sound on %.2f %% of one core (sound adds %.2f points)\n",
        100 * sums[0] / walls[0], 100 * sums[1] / walls[1], 100 * (sums[1] / walls[1] - sums[0] / walls[0]));
    std::printf("  sound server: sound off %.2f %%, sound on %.2f %% of one core\n",
        100 * server[0] / walls[0], 100 * server[1] / walls[1]);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    PulseServer pulse;
    if (!pulse.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(pulse.errorText()));
        return 1;
    }
    qputenv("PULSE_SERVER", pulse.address().toUtf8());
    latency(pulse);
    cpu(pulse, seconds);
    return 0;
}
