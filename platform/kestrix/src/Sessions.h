#pragma once

// The kinds of session: live stream, playback, download, voice link, file
// transfer and upgrade. Each runs on a thread of its own.

#include "Library.h"
#include "Recordings.h"
#include "VideoLoop.h"

#include <cstdio>

namespace kx {

class LiveStream : public Session
{
public:
    LiveStream(std::shared_ptr<Login> login, int channel, int streamType);

    const int channel;
    const int streamType;
    CallbackSlot<TRV_RealDataCallBack> data;
    CallbackSlot<TRV_RealDataCallBack_V2> dataV2;
    std::atomic<bool> keyFrameRequest { false };

protected:
    void run() override;
    void closeCallbacks() override;

private:
    int m_width;
    int m_height;
    bool m_audio;
};

class Playback : public Session
{
public:
    // Plays `segments` in order; `origin` is the time that seeks count from.
    Playback(std::shared_ptr<Login> login, std::vector<PlaySegment> segments, time_t origin,
        TRV_PlayBackDataCallBack data, void *dataUser, TRV_PosCallBack pos, void *posUser);

    bool control(int action, int value);
    bool setSpeed(double factor);

protected:
    void run() override;
    void closeCallbacks() override;

private:
    CallbackSlot<TRV_PlayBackDataCallBack> m_data;
    CallbackSlot<TRV_PosCallBack> m_pos;
    std::vector<PlaySegment> m_segments;
    time_t m_origin;
    // Guarded by m_mutex.
    bool m_paused = false;
    double m_speed = 1.0;
    bool m_seek = false;
    size_t m_seekSegment = 0;
    int64_t m_seekFrame = 0;
};

class Download : public Session
{
public:
    Download(std::shared_ptr<Login> login, const RecordingFile &file, std::FILE *out, TRV_PosCallBack pos,
        void *user);
    ~Download() override;

protected:
    void run() override;
    void closeCallbacks() override;

private:
    RecordingFile m_file;
    std::FILE *m_out;
    CallbackSlot<TRV_PosCallBack> m_pos;
};

class VoiceLink : public Session
{
public:
    VoiceLink(std::shared_ptr<Login> login, int channel, TRV_VoiceDataCallBack callback, void *user);
    ~VoiceLink() override;

    // Takes one voice frame from the client; false when it is not one.
    bool receive(const unsigned char *data, int length);

protected:
    void run() override;
    void closeCallbacks() override;

private:
    CallbackSlot<TRV_VoiceDataCallBack> m_callback;
    std::vector<uint8_t> m_fifo; // guarded by m_mutex
    bool m_wide = false; // 16 kHz frames; guarded by m_mutex
};

class FileTransfer : public Session
{
public:
    FileTransfer(std::shared_ptr<Login> login, const PendingFile &announced, std::FILE *in,
        TRV_FileTransferCallBack callback, void *user);
    ~FileTransfer() override;

protected:
    void run() override;
    void closeCallbacks() override;

private:
    PendingFile m_announced;
    std::FILE *m_in;
    CallbackSlot<TRV_FileTransferCallBack> m_callback;
};

class Upgrade : public Session
{
public:
    // path: a local file (empty for a cloud upgrade of `version`).
    Upgrade(std::shared_ptr<Login> login, const std::string &path, int64_t size, const std::string &version,
        TRV_UpgradeCallBack callback, void *user);
    ~Upgrade() override;
    int state() const { return m_state.load(); }

protected:
    void run() override;
    void closeCallbacks() override;

private:
    std::string m_path;
    int64_t m_size;
    std::string m_version;
    CallbackSlot<TRV_UpgradeCallBack> m_callback;
    std::atomic<int> m_state { TRV_UPGRADE_SENDING };
    bool m_released = false;
};

} // namespace kx
