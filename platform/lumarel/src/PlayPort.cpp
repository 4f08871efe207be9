#include "PlayPort.h"

#include "G711.h"
#include "PictureWriter.h"
#include "Recorder.h"
#include "RenderSurface.h"
#include "SharedImages.h"
#include "SoundOutput.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <mutex>

#include <pthread.h>

namespace {
constexpr size_t kHistory = 16; // pictures kept for stepping back in paced play
constexpr unsigned int kMaxDisplayBuffer = 50;
constexpr int kMaxStepRequests = 100;
// Live windows at most half the picture's size decode this many pictures
// at a time: back to back the decoder's tables and the picture it refers
// to are still in the cache, and the thread wakes once for all of them.
// The window shows each at its own time, this many pictures later.
constexpr size_t kBurstPictures = 4;
// A burst not complete after this long is decoded as it is (a stream that
// pauses or ends still shows its last pictures).
constexpr auto kBurstWait = std::chrono::milliseconds(200);
// Buffers of decoded packets kept for the stream's next blocks.
constexpr size_t kSpareBuffers = 4;

// A port's run decodes at most this many pictures before the pool's other
// ports have their turn: a whole burst, and no stream keeps a thread.
constexpr int kPicturesPerRun = int(kBurstPictures);

std::atomic<bool> &burstsAllowed()
{
    static std::atomic<bool> allowed { true };
    return allowed;
}

std::atomic<bool> &pooledPorts()
{
    static std::atomic<bool> pooled { true };
    return pooled;
}
} // namespace

void PlayPort::setBurstsAllowed(bool allowed)
{
    burstsAllowed() = allowed;
}

void PlayPort::setPooled(bool pooled)
{
    pooledPorts() = pooled;
}

PlayPort::PlayPort(int port)
    : m_port(port)
    , m_sink(std::make_shared<FrameSink>(port))
{
    // Damaged input is normal for a play library; FFmpeg's chatter about
    // it would flood the caller's standard error.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

PlayPort::~PlayPort()
{
    shutdown();
}

void PlayPort::start()
{
    std::weak_ptr<PlayPort> weak = weak_from_this();
    m_sink->setRedrawRequest([weak] {
        if (std::shared_ptr<PlayPort> self = weak.lock()) {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_redraw = true;
            self->wake();
        }
    });
    std::shared_ptr<PlayPort> self = shared_from_this();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pooled = pooledPorts();
    if (m_pooled) {
        wake();
        return;
    }
    // The thread keeps the port alive while it runs.
    m_thread = std::thread([self] {
        for (;;) {
            const NextRun next = self->runJob();
            std::unique_lock<std::mutex> lock(self->m_mutex);
            const auto woken = [&] { return self->m_woken || self->m_quit; };
            if (next.at == Clock::time_point::max())
                self->m_wake.wait(lock, woken);
            else
                self->m_wake.wait_until(lock, next.at, woken);
            if (self->m_quit)
                return;
            self->m_woken = false;
        }
    });
    m_threadId = m_thread.get_id();
    pthread_setname_np(m_thread.native_handle(), "lumarel-port");
}

void PlayPort::wake(bool mayWait)
{
    if (m_pooled) {
        // Null while the port is being destroyed: then it has nothing to do.
        if (std::shared_ptr<PlayPort> self = weak_from_this().lock())
            DecodePool::shared().wake(std::move(self), mayWait);
        return;
    }
    m_woken = true;
    m_wake.notify_all();
}

int PlayPort::openStream(unsigned int poolSize)
{
    if (poolSize == 0)
        return TRV_PLAY_ERR_PARA;
    m_poolSize = poolSize;
    m_stats.poolSize = poolSize;
    start();
    return TRV_PLAY_NOERROR;
}

int PlayPort::openFile(const std::string &path)
{
    if (path.empty())
        return TRV_PLAY_ERR_PARA;
    int error = TRV_PLAY_ERR_OPEN_FILE;
    m_source = FileSource::open(path, &error);
    if (!m_source)
        return error;
    m_file = true;
    if (m_source->hasAudio()) {
        m_audioRate = m_source->audioRate();
        m_audioCodec = m_source->audioCodec();
    }
    start();
    return TRV_PLAY_NOERROR;
}

void PlayPort::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_playing = false;
    }
    m_wake.notify_all();
    m_space.notify_all();
    // Closed from its own file-end callback, the port's work ends when the
    // callback returns.
    if (m_pooled) {
        DecodePool::shared().remove(this);
    } else if (m_thread.joinable()) {
        if (std::this_thread::get_id() == m_threadId)
            m_thread.detach();
        else
            m_thread.join();
    }
    stopRecord();
    SoundOutput::releasePort(m_port);
    m_sink->setRedrawRequest(nullptr);
    m_sink->detach();
}

// ---- input ----------------------------------------------------------------

int PlayPort::input(const uint8_t *data, unsigned int length)
{
    if (m_file)
        return TRV_PLAY_ERR_ORDER;
    if (!data || length == 0)
        return TRV_PLAY_ERR_PARA;
    std::lock_guard<std::mutex> inputLock(m_inputMutex);
    // The buffer of a packet the port has decoded, for the next one.
    MediaPacket packet;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit)
            return TRV_PLAY_ERR_PORT;
        if (m_clearPartial) {
            m_partial.clear();
            m_clearPartial = false;
        }
        if (!m_spareBuffers.empty()) {
            packet.data = std::move(m_spareBuffers.back());
            m_spareBuffers.pop_back();
        }
    }
    m_partial.insert(m_partial.end(), data, data + length);

    bool dropped = false;
    size_t pos = 0;
    while (pos < m_partial.size()) {
        StreamBlock block;
        size_t skip = 0;
        const StreamScan r = scanStreamBlock(m_partial.data() + pos, m_partial.size() - pos, &block, &skip);
        if (r == StreamScan::NeedMore)
            break;
        if (r == StreamScan::Garbage) {
            pos += skip;
            continue;
        }
        const uint8_t *rawBlock = m_partial.data() + pos;
        pos += block.blockSize;
        const bool playable = packetFromBlock(block, &packet);
        static const MediaPacket unplayable;
        record(playable ? packet : unplayable, rawBlock, block.blockSize);
        if (!playable)
            continue;

        std::unique_lock<std::mutex> lock(m_mutex);
        if (packet.kind == MediaPacket::Audio && !m_audioRate) {
            m_audioRate = packet.rate;
            m_audioCodec = packet.codecId;
        }
        // File mode holds the producer back while the port plays; real-time
        // mode (and a port that does not play) drops what does not fit.
        const auto full = [&] { return !m_pool.empty() && m_poolBytes + block.blockSize > m_poolSize; };
        if (m_mode == TRV_PLAY_STREAM_FILE)
            m_space.wait(lock, [&] { return m_quit || !m_playing || !full(); });
        if (m_quit)
            return TRV_PLAY_ERR_PORT;
        if (full()) {
            ++m_stats.blocksDropped;
            dropped = true;
            continue;
        }
        m_poolBytes += block.blockSize;
        const bool picture = packet.kind == MediaPacket::Video;
        m_pool.push_back(PoolBlock { std::move(packet), block.blockSize, Clock::now() });
        ++m_stats.blocksAccepted;
        if (picture)
            ++m_poolPictures;
        // A burst's first pictures wait: the port runs when the burst is
        // complete (shown later anyway, it may wait for the pool's next
        // tick), or when its time is up.
        if (!m_burst)
            wake();
        else if (m_poolPictures >= kBurstPictures)
            wake(true);
    }
    m_partial.erase(m_partial.begin(), m_partial.begin() + std::ptrdiff_t(pos));
    return dropped ? TRV_PLAY_ERR_BUF_OVER : TRV_PLAY_NOERROR;
}

void PlayPort::record(const MediaPacket &packet, const uint8_t *raw, size_t rawLength)
{
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (m_recorder)
        m_recorder->write(packet, raw, rawLength);
}

int PlayPort::setStreamMode(unsigned int mode)
{
    if (mode != TRV_PLAY_STREAM_REALTIME && mode != TRV_PLAY_STREAM_FILE)
        return TRV_PLAY_ERR_PARA;
    if (m_file)
        return TRV_PLAY_ERR_ORDER;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    m_resetClock = true;
    m_space.notify_all();
    return TRV_PLAY_NOERROR;
}

int PlayPort::resetSourceBuffer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file) {
        m_pool.clear();
        m_poolBytes = 0;
        m_poolPictures = 0;
        m_draining = false;
        m_clearPartial = true;
    } else if (m_source && m_pendingSeek < 0 && m_resumeTs > 0 && !m_endReported) {
        // The queued pictures were read from the file already: read them
        // again. (Once the end was reported, every picture has been shown.)
        m_pendingResumeTs = m_resumeTs;
        m_sourceEnded = false;
    }
    m_frames.clear();
    m_flushDecoder = true;
    m_resetClock = true;
    ++m_epoch;
    m_space.notify_all();
    wake();
    return TRV_PLAY_NOERROR;
}

int PlayPort::bufferValue(int type, unsigned int *value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (type) {
    case TRV_PLAY_BUF_SOURCE_BYTES:
        *value = unsigned(m_poolBytes);
        return TRV_PLAY_NOERROR;
    case TRV_PLAY_BUF_SOURCE_BLOCKS:
        *value = unsigned(m_pool.size());
        return TRV_PLAY_NOERROR;
    case TRV_PLAY_BUF_FRAMES:
        *value = unsigned(m_frames.size());
        return TRV_PLAY_NOERROR;
    default:
        *value = 0;
        return TRV_PLAY_ERR_PARA;
    }
}

// ---- the port's thread ----------------------------------------------------

PlayPort::Clock::time_point PlayPort::dueTime(const QueuedFrame &f, Clock::time_point now) const
{
    if (!paced() || m_resetClock)
        return now;
    const int rate = f.rate > 0 ? f.rate : 25;
    int64_t delta = f.timestampMs > 0 && m_lastDueTs > 0 ? f.timestampMs - m_lastDueTs : 1000 / rate;
    if (delta < 0 || delta > 1000)
        delta = 1000 / rate;
    if (m_speed > 0)
        delta >>= m_speed;
    else if (m_speed < 0)
        delta <<= -m_speed;
    return m_lastDue + std::chrono::milliseconds(delta);
}

bool PlayPort::holdForBurst(Clock::time_point now, Clock::time_point *until) const
{
    if (!m_burst || m_draining || m_pool.empty() || m_poolPictures >= kBurstPictures)
        return false;
    *until = m_pool.front().arrived + kBurstWait;
    return now < *until;
}

DecodeJob::NextRun PlayPort::runJob()
{
    int decodedPictures = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (m_flushDecoder) {
            m_flushDecoder = false;
            m_decoder.flush();
        }
        if ((m_pendingSeek >= 0 || m_pendingResumeTs > 0) && m_source) {
            if (m_pendingSeek >= 0) {
                m_source->seekRelative(m_pendingSeek);
                m_skipBeforeTs = m_source->timestampAt(m_pendingSeek);
            } else {
                m_source->seekRelative(m_source->positionOf(m_pendingResumeTs));
                m_skipBeforeTs = m_pendingResumeTs;
            }
            m_resumeTs = m_skipBeforeTs;
            m_pendingSeek = -1;
            m_pendingResumeTs = 0;
            m_sourceEnded = false;
            m_endReported = false;
            m_decoder.flush();
            continue;
        }
        if (m_stepBack) {
            m_stepBack = false;
            if (m_history.size() >= 2) {
                m_history.pop_back();
                FramePtr previous = referenceFrame(m_history.back().get());
                m_history.pop_back(); // present() puts it back
                present(lock, std::move(previous), false);
            }
            continue;
        }

        const bool active = m_playing && (!m_paused || m_stepRequests > 0);
        NextRun next;
        if (active && !m_frames.empty()) {
            const Clock::time_point now = Clock::now();
            const bool stepping = m_paused && m_stepRequests > 0;
            const Clock::time_point due = stepping ? now : dueTime(m_frames.front(), now);
            if (now >= due) {
                QueuedFrame f = std::move(m_frames.front());
                m_frames.pop_front();
                m_lastDue = due + std::chrono::seconds(1) < now ? now : due;
                if (f.timestampMs > 0)
                    m_lastDueTs = f.timestampMs;
                m_resetClock = false;
                if (stepping)
                    --m_stepRequests;
                present(lock, std::move(f.frame), true);
                continue;
            }
            next.at = due;
        }
        if (m_redraw) {
            m_redraw = false;
            if (!m_history.empty()) {
                FramePtr again = referenceFrame(m_history.back().get());
                m_history.pop_back();
                present(lock, std::move(again), false);
            }
            continue;
        }

        const bool moreInput = m_file ? !m_sourceEnded : !m_pool.empty();
        if (active && m_frames.size() < m_displayBufferCount && decodedPictures >= kPicturesPerRun
            && moreInput) {
            // More to decode: after the other ports' turn.
            next.at = Clock::now();
        } else if (active && m_frames.size() < m_displayBufferCount) {
            const bool small
                = m_sink->hasSurface() && shownAtMostHalf(m_pictureWidth, m_pictureHeight, windowSettings());
            m_burst = small && !paced() && burstsAllowed();
            MediaPacket packet;
            bool got = false;
            m_raw.clear();
            Clock::time_point burstUntil;
            if (m_file) {
                if (!m_sourceEnded) {
                    got = m_source->read(&packet, &m_raw);
                    m_sourceEnded = !got;
                }
            } else if (holdForBurst(Clock::now(), &burstUntil)) {
                if (burstUntil < next.at)
                    next = NextRun { burstUntil, false };
            } else if (!m_pool.empty()) {
                packet = std::move(m_pool.front().packet);
                m_poolBytes -= m_pool.front().size;
                if (packet.kind == MediaPacket::Video)
                    --m_poolPictures;
                m_pool.pop_front();
                m_draining = m_burst && !m_pool.empty();
                m_space.notify_all();
                got = true;
            }
            if (got) {
                const uint64_t epoch = m_epoch;
                m_decoder.setSkipDeblocking(small);
                if (packet.kind == MediaPacket::Video)
                    ++decodedPictures;
                lock.unlock();
                m_decoded.clear();
                handlePacket(packet, m_raw, &m_decoded);
                lock.lock();
                // Its buffer takes the next block of the stream.
                if (!m_file && m_spareBuffers.size() < kSpareBuffers) {
                    packet.data.clear();
                    m_spareBuffers.push_back(std::move(packet.data));
                }
                if (epoch == m_epoch && !m_flushDecoder) {
                    for (QueuedFrame &f : m_decoded) {
                        m_lastRate = f.rate;
                        m_pictureWidth = f.frame->width;
                        m_pictureHeight = f.frame->height;
                        if (m_skipBeforeTs > 0 && f.timestampMs < m_skipBeforeTs && f.timestampMs != 0)
                            continue;
                        m_skipBeforeTs = 0;
                        m_frames.push_back(std::move(f));
                    }
                }
                m_decoded.clear();
                continue;
            }
            if (m_file && m_sourceEnded && m_frames.empty() && !m_endReported) {
                m_endReported = true;
                ++m_stats.fileEndCalls;
                const TRV_PLAY_FileEndCallBack callback = m_endCallback;
                void *user = m_endUser;
                if (callback) {
                    lock.unlock();
                    callback(m_port, user);
                    lock.lock();
                }
                continue;
            }
        }
        // A window taking bursts looks again after a burst's time, for a
        // burst the stream leaves incomplete; while the stream runs, the
        // next burst wakes the port first.
        if (m_burst && active && next.at == Clock::time_point::max())
            next = NextRun { Clock::now() + kBurstWait, false };
        return next;
    }
    return NextRun {};
}

void PlayPort::handlePacket(
    const MediaPacket &packet, const std::vector<uint8_t> &raw, std::vector<QueuedFrame> *frames)
{
    if (m_file)
        record(packet, raw.empty() ? nullptr : raw.data(), raw.size());
    if (packet.kind == MediaPacket::Audio) {
        playAudio(packet);
        return;
    }
    std::vector<FramePtr> &pictures = m_pictures;
    pictures.clear();
    m_decoder.decode(packet, &pictures);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats.framesDecoded += int64_t(pictures.size());
        m_stats.videoCodec = packet.codecId == AV_CODEC_ID_HEVC ? kCodecH265
            : packet.codecId == AV_CODEC_ID_H264                ? kCodecH264
                                                                : int(packet.codecId);
    }
    for (FramePtr &p : pictures) {
        QueuedFrame f;
        f.timestampMs = p->pts != AV_NOPTS_VALUE ? p->pts : 0;
        f.rate = packet.rate;
        f.frame = std::move(p);
        frames->push_back(std::move(f));
    }
    pictures.clear();
}

void PlayPort::playAudio(const MediaPacket &packet)
{
    std::vector<int16_t> &pcm = m_pcm;
    pcm.resize(packet.data.size());
    unsigned short volume;
    bool normal;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        volume = m_volume;
        // Silent at other speeds and while stepping, as players of recordings are.
        normal = m_playing && !m_paused && m_speed == 0;
    }
    if (!normal) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats.audioSamplesDecoded += int64_t(pcm.size());
        return;
    }
    const bool mu = packet.codecId == AV_CODEC_ID_PCM_MULAW;
    for (size_t i = 0; i < pcm.size(); ++i) {
        const int s = mu ? ulawToLinear(packet.data[i]) : alawToLinear(packet.data[i]);
        pcm[i] = int16_t(s * int(volume) / 0xFFFF);
    }
    const int64_t played = SoundOutput::play(m_port, pcm.data(), pcm.size(), packet.rate);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.audioSamplesDecoded += int64_t(pcm.size());
    m_stats.soundSamples += played;
}

RenderSettings PlayPort::windowSettings() const
{
    RenderSettings settings = m_render;
    settings.targetWidth = m_sink->targetWidth();
    settings.targetHeight = m_sink->targetHeight();
    return settings;
}

void PlayPort::present(std::unique_lock<std::mutex> &lock, FramePtr frame, bool count)
{
    if (!frame)
        return;
    const int64_t ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : 0;
    if (ts > 0 || m_file)
        m_lastShownTs = ts;
    if (m_file && ts > 0)
        m_resumeTs = ts + 1;
    if (count)
        ++m_stats.framesShown;
    const RenderSettings settings = windowSettings();
    const bool window = m_sink->hasSurface();
    // Read below without the lock: only the port's own run changes the
    // history, and the newest picture stays in it.
    const AVFrame *shown = frame.get();
    m_history.push_back(std::move(frame));
    // Real-time play keeps only the picture on screen (for redraws and
    // snapshots): every picture held is a buffer the decoder cannot reuse,
    // and a grid of live windows would keep hundreds of megabytes hot.
    const size_t keep = paced() ? kHistory : 1;
    while (m_history.size() > keep)
        m_history.pop_front();
    // A burst's pictures go to the window with their times, one picture
    // interval apart; others are shown at once.
    Clock::time_point due;
    const bool queued = m_burst && count;
    if (queued) {
        // Spaced as the stream's times say, from where the last one was
        // due; never behind now, and at most a burst ahead, so jitter in
        // the stream does not add up to a growing delay.
        const Clock::time_point now = Clock::now();
        const int64_t interval = 1000 / (m_lastRate > 0 ? m_lastRate : 25);
        int64_t step = ts > 0 && m_burstTs > 0 ? ts - m_burstTs : interval;
        if (step < 0 || step > 4 * interval)
            step = interval;
        m_burstTs = ts;
        const auto ahead = std::chrono::milliseconds(interval * int64_t(kBurstPictures));
        m_burstDue = std::clamp(m_burstDue + std::chrono::milliseconds(step), now, now + ahead);
        due = m_burstDue;
    }
    lock.unlock();
    if (window && shown) {
        m_renderer.setImageSetMaker(m_sink->drawsStraight() ? &SharedImages::makeSet : nullptr);
        const QImage image = m_renderer.render(shown, settings);
        if (!image.isNull()) {
            if (queued)
                m_sink->queueImage(image, settings.original, due);
            else if (!count)
                m_sink->redrawImage(image, settings.original);
            else
                m_sink->setImage(image, settings.original);
        }
    }
    lock.lock();
}

// ---- control ---------------------------------------------------------------

int PlayPort::play(TRV_PLAY_WND window)
{
    if (window) {
        if (!m_sink->attach(window))
            return TRV_PLAY_ERR_WINDOW;
    } else {
        m_sink->detach();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_playing = true;
    m_paused = false;
    m_speed = 0;
    m_stepRequests = 0;
    m_resetClock = true;
    m_redraw = true; // a picture shown before (paused, stepped) goes to the window at once
    wake();
    m_space.notify_all();
    return TRV_PLAY_NOERROR;
}

int PlayPort::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing)
            return TRV_PLAY_ERR_ORDER;
        m_playing = false;
        m_paused = false;
        m_speed = 0;
        m_stepRequests = 0;
        m_frames.clear();
        m_flushDecoder = true;
        m_resetClock = true;
        ++m_epoch;
        wake();
        m_space.notify_all();
    }
    SoundOutput::flush(m_port);
    m_sink->detach();
    m_sink->clearImage();
    return TRV_PLAY_NOERROR;
}

int PlayPort::pause(bool pause)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing)
            return TRV_PLAY_ERR_ORDER;
        m_paused = pause;
        m_stepRequests = 0;
        if (!pause)
            m_resetClock = true;
        wake();
        m_space.notify_all();
    }
    if (pause)
        SoundOutput::flush(m_port);
    return TRV_PLAY_NOERROR;
}

int PlayPort::fast()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing || m_speed >= TRV_PLAY_MAX_SPEED_LEVEL)
            return TRV_PLAY_ERR_ORDER;
        ++m_speed;
        wake();
    }
    SoundOutput::flush(m_port);
    return TRV_PLAY_NOERROR;
}

int PlayPort::slow()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing || m_speed <= -TRV_PLAY_MAX_SPEED_LEVEL)
            return TRV_PLAY_ERR_ORDER;
        --m_speed;
        wake();
    }
    SoundOutput::flush(m_port);
    return TRV_PLAY_NOERROR;
}

int PlayPort::stepForward()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing)
            return TRV_PLAY_ERR_ORDER;
        m_paused = true;
        m_stepRequests = std::min(m_stepRequests + 1, kMaxStepRequests);
        wake();
    }
    SoundOutput::flush(m_port);
    return TRV_PLAY_NOERROR;
}

int PlayPort::stepBackward()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_playing)
            return TRV_PLAY_ERR_ORDER;
        m_paused = true;
        m_stepRequests = 0;
        m_stepBack = true;
        wake();
    }
    SoundOutput::flush(m_port);
    return TRV_PLAY_NOERROR;
}

int PlayPort::setDisplayBufferCount(unsigned int frames)
{
    if (frames == 0 || frames > kMaxDisplayBuffer)
        return TRV_PLAY_ERR_PARA;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_displayBufferCount = frames;
    wake();
    return TRV_PLAY_NOERROR;
}

int64_t PlayPort::currentTimeStamp()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastShownTs / 1000;
}

int PlayPort::setPlayPos(float position)
{
    if (!m_file)
        return TRV_PLAY_ERR_ORDER;
    if (!(position >= 0.0f && position <= 1.0f))
        return TRV_PLAY_ERR_PARA;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pendingSeek = position;
    m_frames.clear();
    ++m_epoch;
    m_resetClock = true;
    if (m_paused)
        m_stepRequests = 1; // show the picture at the new place
    wake();
    return TRV_PLAY_NOERROR;
}

int PlayPort::playPos(float *position)
{
    if (!m_file)
        return TRV_PLAY_ERR_ORDER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_endReported) {
        *position = 1.0f;
        return TRV_PLAY_NOERROR;
    }
    *position = float(m_source->positionOf(m_lastShownTs));
    return TRV_PLAY_NOERROR;
}

int PlayPort::setFileEndCallback(TRV_PLAY_FileEndCallBack callback, void *user)
{
    if (!m_file)
        return TRV_PLAY_ERR_ORDER;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_endCallback = callback;
    m_endUser = user;
    return TRV_PLAY_NOERROR;
}

int PlayPort::setDisplayRegion(const TRV_PLAY_RECT *rect, bool enable)
{
    if (enable) {
        if (!rect || rect->left < 0 || rect->top < 0 || rect->right > TRV_PLAY_REGION_SPACE
            || rect->bottom > TRV_PLAY_REGION_SPACE || rect->left >= rect->right || rect->top >= rect->bottom)
            return TRV_PLAY_ERR_PARA;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_render.regionEnabled = enable;
    m_render.region = enable ? *rect : TRV_PLAY_RECT { 0, 0, TRV_PLAY_REGION_SPACE, TRV_PLAY_REGION_SPACE };
    m_redraw = true;
    wake();
    return TRV_PLAY_NOERROR;
}

int PlayPort::registerDrawCallback(TRV_PLAY_DrawCallBack callback, void *user)
{
    m_sink->setDrawCallback(callback, user);
    return TRV_PLAY_NOERROR;
}

int PlayPort::setRenderMode(int enable, int mode)
{
    if (mode < 0)
        return TRV_PLAY_ERR_PARA;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_renderMode = enable ? mode : 0;
    return TRV_PLAY_NOERROR;
}

int PlayPort::setOriginal(bool original)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_render.original = original;
    m_redraw = true;
    wake();
    return TRV_PLAY_NOERROR;
}

int PlayPort::pictureSize(int *width, int *height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pictureWidth <= 0 || m_pictureHeight <= 0)
        return TRV_PLAY_ERR_NO_PICTURE;
    *width = m_pictureWidth;
    *height = m_pictureHeight;
    return TRV_PLAY_NOERROR;
}

int PlayPort::setColour(int brightness, int contrast, int saturation, int hue)
{
    for (int v : { brightness, contrast, saturation, hue })
        if (v < 0 || v > TRV_PLAY_COLOR_MAX)
            return TRV_PLAY_ERR_PARA;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_render.colour = ColourSettings { brightness, contrast, saturation, hue };
    m_redraw = true;
    wake();
    return TRV_PLAY_NOERROR;
}

void PlayPort::colour(int *brightness, int *contrast, int *saturation, int *hue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *brightness = m_render.colour.brightness;
    *contrast = m_render.colour.contrast;
    *saturation = m_render.colour.saturation;
    *hue = m_render.colour.hue;
}

int PlayPort::catchPicture(uint8_t *buffer, unsigned int size, int *width, int *height, int type)
{
    if (type != TRV_PLAY_PICTURE_BMP && type != TRV_PLAY_PICTURE_I420)
        return TRV_PLAY_ERR_PARA;
    FramePtr picture;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_history.empty())
            return TRV_PLAY_ERR_NO_PICTURE;
        picture = referenceFrame(m_history.back().get());
    }
    if (!picture)
        return TRV_PLAY_ERR_NO_PICTURE;
    bool tooSmall = false;
    const bool ok = type == TRV_PLAY_PICTURE_BMP ? writeBmp(picture.get(), buffer, size, &tooSmall)
                                                 : writeI420(picture.get(), buffer, size, &tooSmall);
    if (!ok)
        return tooSmall ? TRV_PLAY_ERR_BUF_SMALL : TRV_PLAY_ERR_FORMAT;
    if (width)
        *width = picture->width;
    if (height)
        *height = picture->height;
    return TRV_PLAY_NOERROR;
}

int PlayPort::startRecord(const std::string &path, int type)
{
    int rate;
    AVCodecID codec;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        rate = m_audioRate;
        codec = m_audioCodec;
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    if (m_recorder)
        return TRV_PLAY_ERR_BUSY;
    int error = TRV_PLAY_ERR_CREATE_FILE;
    m_recorder = Recorder::start(path, type, rate, codec, &error);
    return m_recorder ? TRV_PLAY_NOERROR : error;
}

int PlayPort::stopRecord()
{
    std::unique_ptr<Recorder> recorder;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        recorder.swap(m_recorder);
    }
    if (!recorder)
        return TRV_PLAY_ERR_ORDER;
    return recorder->stop() ? TRV_PLAY_NOERROR : TRV_PLAY_ERR_CREATE_FILE;
}

void PlayPort::setVolume(unsigned short volume)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volume = volume;
}

unsigned short PlayPort::volume()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_volume;
}

void PlayPort::stats(LumarelControl::PortStats *out)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *out = m_stats;
        out->open = !m_quit;
        out->filePort = m_file;
        out->playing = m_playing;
        out->paused = m_paused;
        out->speed = m_speed;
        out->streamMode = m_mode;
        out->width = m_pictureWidth;
        out->height = m_pictureHeight;
        out->renderMode = m_renderMode;
        out->displayBufferCount = m_displayBufferCount;
        out->originalDisplay = m_render.original;
        out->regionEnabled = m_render.regionEnabled;
        out->region = m_render.region;
    }
    out->hasWindow = m_sink->hasSurface();
    out->framesDrawn = m_sink->framesDrawn();
    out->framesQueued = m_sink->framesQueued();
    out->framesStraight = m_sink->framesStraight();
    out->framesShared = m_sink->framesShared();
    out->drawCallbacks = m_sink->drawCallbacks();
    std::lock_guard<std::mutex> lock(m_recordMutex);
    out->recording = m_recorder != nullptr;
}
