#pragma once

// Writes packets into an AVI file with libavformat, without re-encoding. The
// file is created at open(); the streams and the header are written at the
// first key frame, and finish() writes the index.

#include "MediaPacket.h"

#include <string>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVPacket;

class AviMuxer
{
public:
    AviMuxer() = default;
    ~AviMuxer();
    AviMuxer(const AviMuxer &) = delete;
    AviMuxer &operator=(const AviMuxer &) = delete;

    bool open(const std::string &path);
    // Declares an audio stream; only before the header is written.
    void setAudio(int sampleRate, AVCodecID codec);
    // False on a write error; packets before the first key frame are skipped.
    bool write(const MediaPacket &packet);
    // Writes the index and closes the file. False when the file is not a
    // complete AVI (no picture, or a write failed); the file is then removed.
    bool finish();
    int64_t videoFrames() const { return m_videoFrames; }

private:
    bool writeHeader(const MediaPacket &first);

    std::string m_path;
    AVFormatContext *m_ctx = nullptr;
    AVPacket *m_packet = nullptr;
    bool m_header = false;
    bool m_failed = false;
    int m_audioRate = 0;
    AVCodecID m_audioCodec = AV_CODEC_ID_NONE;
    int m_audioStream = -1;
    AVCodecID m_videoCodec = AV_CODEC_ID_NONE;
    AVRational m_videoTimeBase { 1, 25 };
    int64_t m_videoFrames = 0;
    int64_t m_audioSamples = 0;
};
