#include "Sessions.h"

#include <algorithm>
#include <climits>

namespace kx {

namespace {

std::shared_ptr<const VideoLoop> loopFor(const Login &login, const RecordingFile &file)
{
    const kestrix::DeviceSpec &spec = login.device->spec;
    const int *size = file.streamType == TRV_STREAM_MAIN ? spec.mainSize : spec.extraSize;
    return videoLoop(file.channel, size[0], size[1]);
}

} // namespace

Playback::Playback(std::shared_ptr<Login> l, std::vector<PlaySegment> segments, time_t origin,
    TRV_PlayBackDataCallBack data, void *dataUser, TRV_PosCallBack pos, void *posUser)
    : Session(Kind::Playback, std::move(l))
    , m_segments(std::move(segments))
    , m_origin(origin)
{
    m_data.set(data, dataUser);
    m_pos.set(pos, posUser);
}

void Playback::closeCallbacks()
{
    m_data.remove();
    m_pos.remove();
}

bool Playback::control(int action, int value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        switch (action) {
        case TRV_PLAYBACK_PAUSE:
            m_paused = true;
            break;
        case TRV_PLAYBACK_RESUME:
            m_paused = false;
            break;
        case TRV_PLAYBACK_SEEK: {
            if (value < 0)
                return false;
            const time_t target = m_origin + value;
            size_t si = 0;
            int64_t frame = 0;
            for (; si < m_segments.size(); ++si) {
                const PlaySegment &s = m_segments[si];
                const time_t end = s.file.begin + time_t(s.last / kFrameRate);
                if (target < end) {
                    frame = std::max<int64_t>(s.first, int64_t(target - s.file.begin) * kFrameRate);
                    frame -= frame % kKeyInterval; // start on a key frame
                    frame = std::max(frame, s.first - s.first % kKeyInterval);
                    break;
                }
            }
            m_seek = true;
            m_seekSegment = si;
            m_seekFrame = frame;
            break;
        }
        case TRV_PLAYBACK_FAST:
        case TRV_PLAYBACK_SLOW:
            if (value < 0 || value > 4)
                return false;
            m_speed = action == TRV_PLAYBACK_FAST ? double(1 << value) : 1.0 / double(1 << value);
            break;
        default:
            return false;
        }
    }
    wake();
    return true;
}

bool Playback::setSpeed(double factor)
{
    if (!(factor >= 1.0 / 16 && factor <= 16))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_speed = factor;
    }
    wake();
    return true;
}

void Playback::run()
{
    int64_t total = 0;
    for (const PlaySegment &s : m_segments) {
        auto loop = loopFor(*login, s.file);
        if (loop)
            total += bytesOfFrames(*loop, s.last) - bytesOfFrames(*loop, s.first);
    }
    const int totalInt = int(std::min<int64_t>(total, INT_MAX));

    size_t si = 0;
    int64_t frame = m_segments.empty() ? 0 : m_segments[0].first;
    bool ended = false;
    std::shared_ptr<const VideoLoop> loop;
    const RecordingFile *loopFile = nullptr;
    std::vector<uint8_t> block;
    Clock::time_point next = Clock::now();
    for (;;) {
        std::chrono::nanoseconds interval;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this, ended] { return m_stop || m_seek || (!m_paused && !ended); });
            if (m_stop)
                return;
            if (m_seek) {
                m_seek = false;
                si = m_seekSegment;
                frame = m_seekFrame;
                ended = false;
                next = Clock::now();
                if (m_paused)
                    continue;
            }
            interval = std::chrono::nanoseconds(int64_t(1e9 / kFrameRate / m_speed));
        }
        if (!sleepUntil(next))
            return;
        next += interval;
        if (Clock::now() > next + std::chrono::seconds(1))
            next = Clock::now();
        if (!login->connected.load())
            continue;
        if (si >= m_segments.size()) {
            ended = true;
            m_pos.call([&](TRV_PosCallBack cb, void *user) { cb(handle, totalInt, -1, user); });
            continue;
        }
        const PlaySegment &seg = m_segments[si];
        if (loopFile != &seg.file) {
            loop = loopFor(*login, seg.file);
            loopFile = &seg.file;
        }
        if (!loop || frame >= seg.last) {
            ++si;
            if (si < m_segments.size())
                frame = m_segments[si].first;
            continue;
        }
        recordingBlock(seg.file, *loop, frame, &block);
        ++frame;
        m_data.call([&](TRV_PlayBackDataCallBack cb, void *user) {
            cb(handle, TRV_FRAME_VIDEO, block.data(), int(block.size()), user);
        });
    }
}

} // namespace kx
