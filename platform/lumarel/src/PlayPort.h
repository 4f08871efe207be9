#pragma once

// One play port: its input (a pool of stream blocks, or a file), the work
// that decodes and presents pictures (run by the decode pool, or by a
// thread of its own), its sound, snapshots and recording.
// Methods return 0 or a TRV_PLAY_ERR_ code.

#include "DecodePool.h"
#include "FrameRenderer.h"
#include "MediaPacket.h"
#include "MediaSource.h"
#include "VideoDecoder.h"
#include "lumarel/LumarelControl.h"
#include "lumarel/lumarel.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FrameSink;
class Recorder;

class PlayPort : public DecodeJob, public std::enable_shared_from_this<PlayPort>
{
public:
    explicit PlayPort(int port);
    ~PlayPort();
    PlayPort(const PlayPort &) = delete;
    PlayPort &operator=(const PlayPort &) = delete;

    int openStream(unsigned int poolSize);
    int openFile(const std::string &path);
    // Ends the port's work, removes the picture from the window, stops
    // recording and sound. Called once when the port closes.
    void shutdown();
    bool isFilePort() const { return m_file; }

    int input(const uint8_t *data, unsigned int length);
    int setStreamMode(unsigned int mode);
    int resetSourceBuffer();
    int bufferValue(int type, unsigned int *value);

    int play(TRV_PLAY_WND window);
    int stop();
    int pause(bool pause);
    int fast();
    int slow();
    int stepForward();
    int stepBackward();
    int setDisplayBufferCount(unsigned int frames);
    int64_t currentTimeStamp();
    int setPlayPos(float position);
    int playPos(float *position);
    int setFileEndCallback(TRV_PLAY_FileEndCallBack callback, void *user);

    int setDisplayRegion(const TRV_PLAY_RECT *rect, bool enable);
    int registerDrawCallback(TRV_PLAY_DrawCallBack callback, void *user);
    int setRenderMode(int enable, int mode);
    int setOriginal(bool original);
    int pictureSize(int *width, int *height);
    int setColour(int brightness, int contrast, int saturation, int hue);
    void colour(int *brightness, int *contrast, int *saturation, int *hue);

    int catchPicture(uint8_t *buffer, unsigned int size, int *width, int *height, int type);
    int startRecord(const std::string &path, int type);
    int stopRecord();

    void setVolume(unsigned short volume);
    unsigned short volume();

    void stats(LumarelControl::PortStats *out);

    // Whether small live windows may take their pictures in bursts (they do
    // unless a benchmark compares without).
    static void setBurstsAllowed(bool allowed);
    // Whether ports opened from now on do their work on the decode pool
    // (the default) or each on a thread of its own (for benchmarks that
    // compare both).
    static void setPooled(bool pooled);

private:
    struct PoolBlock
    {
        MediaPacket packet;
        size_t size = 0;
        std::chrono::steady_clock::time_point arrived;
    };
    struct QueuedFrame
    {
        FramePtr frame;
        int64_t timestampMs = 0;
        int rate = 0;
    };
    using Clock = std::chrono::steady_clock;

    void start();
    // The port's work until it has to wait for a picture's time or for
    // input; m_mutex not held.
    NextRun runJob() override;
    // Has runJob() called soon (m_mutex held); with `mayWait` the decode
    // pool takes it on its next tick.
    void wake(bool mayWait = false);
    bool paced() const { return m_file || m_mode == TRV_PLAY_STREAM_FILE; }
    // Whether the pool's pictures wait for a burst (m_mutex held); when
    // they do and one is not complete yet, `*until` is when they stop waiting.
    bool holdForBurst(Clock::time_point now, Clock::time_point *until) const;
    Clock::time_point dueTime(const QueuedFrame &frame, Clock::time_point now) const;
    void handlePacket(
        const MediaPacket &packet, const std::vector<uint8_t> &raw, std::vector<QueuedFrame> *frames);
    void playAudio(const MediaPacket &packet);
    // The port's render settings at the window's present size (m_mutex held).
    RenderSettings windowSettings() const;
    void present(std::unique_lock<std::mutex> &lock, FramePtr frame, bool count);
    void record(const MediaPacket &packet, const uint8_t *raw, size_t rawLength);

    const int m_port;
    std::shared_ptr<FrameSink> m_sink;

    // Producers: one at a time, holding the partial block.
    std::mutex m_inputMutex;
    std::vector<uint8_t> m_partial;

    std::mutex m_recordMutex;
    std::unique_ptr<Recorder> m_recorder;

    // Used by runJob() alone (one run at a time).
    VideoDecoder m_decoder;
    FrameRenderer m_renderer;
    std::vector<uint8_t> m_raw;
    std::vector<QueuedFrame> m_decoded;
    std::vector<FramePtr> m_pictures;
    std::vector<int16_t> m_pcm;

    mutable std::mutex m_mutex;
    std::condition_variable m_space; // producers held back in file mode
    bool m_quit = false;
    bool m_pooled = true;
    // A thread of the port's own (not pooled): it waits on m_wake for m_woken.
    std::thread m_thread;
    std::thread::id m_threadId;
    std::condition_variable m_wake;
    bool m_woken = false;

    bool m_file = false;
    unsigned int m_poolSize = 0;
    unsigned int m_mode = TRV_PLAY_STREAM_REALTIME;
    std::deque<PoolBlock> m_pool;
    std::vector<std::vector<uint8_t>> m_spareBuffers; // of blocks decoded, for the next ones
    size_t m_poolBytes = 0;
    size_t m_poolPictures = 0; // video blocks in the pool
    // A live window at most half the picture's size: its pictures are
    // decoded a few at a time and handed to the window with their times.
    bool m_burst = false;
    bool m_draining = false; // a burst is being decoded
    Clock::time_point m_burstDue; // when the last picture of a burst is shown
    int64_t m_burstTs = 0; // and its time in the stream
    int m_lastRate = 0;
    bool m_clearPartial = false;
    std::unique_ptr<FileSource> m_source;
    double m_pendingSeek = -1;
    int64_t m_skipBeforeTs = 0; // after a seek: pictures before this are decoded, not shown
    // File ports: the first picture not shown yet. Emptying the queue throws
    // away pictures already read from the file; reading resumes here.
    int64_t m_resumeTs = 0;
    int64_t m_pendingResumeTs = 0;
    bool m_sourceEnded = false;
    bool m_endReported = false;
    TRV_PLAY_FileEndCallBack m_endCallback = nullptr;
    void *m_endUser = nullptr;

    bool m_playing = false;
    bool m_paused = false;
    int m_speed = 0;
    int m_stepRequests = 0;
    bool m_stepBack = false;
    bool m_flushDecoder = false;
    bool m_redraw = false;
    uint64_t m_epoch = 0; // changes when queued pictures become stale
    unsigned int m_displayBufferCount = 15;
    std::deque<QueuedFrame> m_frames;
    std::deque<FramePtr> m_history; // presented pictures, newest last
    bool m_resetClock = true;
    Clock::time_point m_lastDue;
    int64_t m_lastDueTs = 0;
    int64_t m_lastShownTs = 0;
    RenderSettings m_render;
    int m_renderMode = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;

    int m_audioRate = 0;
    AVCodecID m_audioCodec = AV_CODEC_ID_NONE;
    unsigned short m_volume = 0xFFFF;

    LumarelControl::PortStats m_stats;
};
