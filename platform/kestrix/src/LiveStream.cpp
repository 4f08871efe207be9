#include "Sessions.h"

#include "StreamFrame.h"

#include <chrono>
#include <cstring>

namespace kx {

namespace {

// 40 ms of a 1 kHz tone at 8000 samples per second, G.711 A-law.
constexpr int kAudioBytes = 320;
const uint8_t kTonePeriod[8] = { 0xd5, 0x95, 0x92, 0x95, 0xd5, 0x15, 0x12, 0x15 };

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void fillFrameTime(TRV_FRAME_INFO *fi, int64_t ms)
{
    const time_t t = time_t(ms / 1000);
    splitLocalTime(t, &fi->year, &fi->month, &fi->day, &fi->hour, &fi->minute, &fi->second);
}

} // namespace

LiveStream::LiveStream(std::shared_ptr<Login> l, int ch, int type)
    : Session(Kind::Live, std::move(l))
    , channel(ch)
    , streamType(type)
{
    const kestrix::DeviceSpec &spec = login->device->spec;
    const int *size = type == TRV_STREAM_MAIN ? spec.mainSize : spec.extraSize;
    m_width = size[0];
    m_height = size[1];
    m_audio = spec.audio;
}

void LiveStream::closeCallbacks()
{
    data.remove();
    dataV2.remove();
}

void LiveStream::run()
{
    const std::shared_ptr<const VideoLoop> loop = videoLoop(channel, m_width, m_height);
    if (!loop)
        return;
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio(kStreamFrameHeaderSize + kAudioBytes);
    for (int i = 0; i < kAudioBytes; ++i)
        audio[kStreamFrameHeaderSize + size_t(i)] = kTonePeriod[i % 8];
    size_t index = 0;
    uint32_t sequence = 0;
    uint32_t audioSequence = 0;
    const auto period = std::chrono::milliseconds(kFrameMs);
    Clock::time_point next = Clock::now();
    while (sleepUntil(next)) {
        next += period;
        const Clock::time_point now = Clock::now();
        if (now > next + std::chrono::seconds(1))
            next = now + period; // after a stall, go on from now instead of bursting
        if (!login->connected.load())
            continue;
        if (keyFrameRequest.exchange(false))
            index = 0;
        const EncodedFrame &f = loop->frames[index];
        const int64_t ts = nowMs();

        StreamFrameHeader h;
        h.kind = f.key ? kFrameVideoKey : kFrameVideoDelta;
        h.codec = kCodecH264;
        h.width = uint16_t(loop->width);
        h.height = uint16_t(loop->height);
        h.rate = kFrameRate;
        h.sequence = sequence;
        h.timestampMs = ts;
        h.length = uint32_t(f.data.size());
        video.resize(kStreamFrameHeaderSize + f.data.size());
        writeStreamFrameHeader(h, video.data());
        std::memcpy(video.data() + kStreamFrameHeaderSize, f.data.data(), f.data.size());

        TRV_FRAME_INFO fi = {};
        fi.frameType = TRV_FRAME_VIDEO;
        fi.data = video.data();
        fi.length = unsigned(video.size());
        fi.keyFrame = f.key ? 1 : 0;
        fi.codec = kCodecH264;
        fi.frameRate = kFrameRate;
        fi.timestampMs = ts;
        fillFrameTime(&fi, ts);
        fi.width = h.width;
        fi.height = h.height;
        fi.sequence = sequence;
        dataV2.call([&](TRV_RealDataCallBack_V2 cb, void *user) { cb(handle, &fi, user); });
        data.call([&](TRV_RealDataCallBack cb, void *user) {
            cb(handle, TRV_FRAME_VIDEO, video.data(), int(video.size()), user);
        });
        ++sequence;

        if (m_audio && !stopping()) {
            StreamFrameHeader a;
            a.kind = kFrameAudio;
            a.codec = kCodecG711A;
            a.rate = 800;
            a.sequence = audioSequence;
            a.timestampMs = ts;
            a.length = kAudioBytes;
            writeStreamFrameHeader(a, audio.data());
            TRV_FRAME_INFO ai = {};
            ai.frameType = TRV_FRAME_AUDIO;
            ai.data = audio.data();
            ai.length = unsigned(audio.size());
            ai.codec = kCodecG711A;
            ai.frameRate = 8000;
            ai.timestampMs = ts;
            fillFrameTime(&ai, ts);
            ai.sequence = audioSequence;
            dataV2.call([&](TRV_RealDataCallBack_V2 cb, void *user) { cb(handle, &ai, user); });
            data.call([&](TRV_RealDataCallBack cb, void *user) {
                cb(handle, TRV_FRAME_AUDIO, audio.data(), int(audio.size()), user);
            });
            ++audioSequence;
        }
        index = (index + 1) % loop->frames.size();
    }
}

} // namespace kx
