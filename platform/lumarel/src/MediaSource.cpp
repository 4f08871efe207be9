#include "MediaSource.h"

#include "BlockFileReader.h"
#include "lumarel/lumarel.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

namespace {

// A ".h265x" file: indexed once at open time, so that positions are
// timestamps and seeks land on key frames.
class StreamFileSource : public FileSource
{
public:
    bool open(const std::string &path, int *error)
    {
        if (!m_reader.open(path)) {
            *error = TRV_PLAY_ERR_OPEN_FILE;
            return false;
        }
        StreamBlock block;
        int64_t offset = 0;
        bool any = false;
        while (m_reader.next(&block, &offset)) {
            MediaPacket p;
            if (!packetFromBlock(block, &p))
                continue;
            any = true;
            if (p.kind == MediaPacket::Audio) {
                if (!m_audioRate) {
                    m_audioRate = p.rate;
                    m_audioCodec = p.codecId;
                }
                continue;
            }
            if (p.timestampMs > 0) {
                if (m_firstTs == 0)
                    m_firstTs = p.timestampMs;
                m_lastTs = std::max(m_lastTs, p.timestampMs);
            }
            if (p.key)
                m_keys.push_back({ offset, p.timestampMs });
        }
        if (m_reader.failed()) {
            *error = TRV_PLAY_ERR_OPEN_FILE;
            return false;
        }
        if (!any) {
            *error = TRV_PLAY_ERR_FORMAT;
            return false;
        }
        m_reader.seek(0);
        return true;
    }

    bool read(MediaPacket *packet, std::vector<uint8_t> *raw) override
    {
        StreamBlock block;
        while (m_reader.next(&block, nullptr)) {
            if (!packetFromBlock(block, packet))
                continue;
            if (raw)
                raw->assign(m_reader.rawBlock(), m_reader.rawBlock() + block.blockSize);
            return true;
        }
        return false;
    }

    bool seekRelative(double position) override
    {
        position = std::clamp(position, 0.0, 1.0);
        if (m_lastTs > m_firstTs && !m_keys.empty()) {
            const int64_t target = m_firstTs + int64_t(position * double(m_lastTs - m_firstTs));
            int64_t offset = m_keys.front().offset;
            for (const Key &k : m_keys) {
                if (k.timestampMs > target)
                    break;
                offset = k.offset;
            }
            return m_reader.seek(offset);
        }
        // Without timestamps: by bytes, then the reader finds the next block.
        return m_reader.seek(int64_t(position * double(m_reader.size())));
    }

    int64_t timestampAt(double position) const override
    {
        if (m_lastTs <= m_firstTs)
            return 0;
        return m_firstTs + int64_t(std::clamp(position, 0.0, 1.0) * double(m_lastTs - m_firstTs));
    }

    double positionOf(int64_t timestampMs) const override
    {
        if (m_lastTs <= m_firstTs || timestampMs <= 0)
            return 0.0;
        return std::clamp(double(timestampMs - m_firstTs) / double(m_lastTs - m_firstTs), 0.0, 1.0);
    }

    bool hasAudio() const override { return m_audioRate > 0; }
    int audioRate() const override { return m_audioRate; }
    AVCodecID audioCodec() const override { return m_audioCodec; }

private:
    struct Key
    {
        int64_t offset;
        int64_t timestampMs;
    };
    BlockFileReader m_reader;
    std::vector<Key> m_keys;
    int64_t m_firstTs = 0;
    int64_t m_lastTs = 0;
    int m_audioRate = 0;
    AVCodecID m_audioCodec = AV_CODEC_ID_NONE;
};

void freeParameters(AVCodecParameters *p)
{
    avcodec_parameters_free(&p);
}

// An AVI file, read with libavformat. Timestamps are milliseconds from the
// start of the file.
class AviSource : public FileSource
{
public:
    ~AviSource() override { avformat_close_input(&m_ctx); }

    bool open(const std::string &path, int *error)
    {
        if (avformat_open_input(&m_ctx, path.c_str(), nullptr, nullptr) < 0) {
            *error = TRV_PLAY_ERR_OPEN_FILE;
            return false;
        }
        if (avformat_find_stream_info(m_ctx, nullptr) < 0) {
            *error = TRV_PLAY_ERR_FORMAT;
            return false;
        }
        m_video = av_find_best_stream(m_ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            const AVCodecParameters *par = m_ctx->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO
                && (par->codec_id == AV_CODEC_ID_PCM_ALAW || par->codec_id == AV_CODEC_ID_PCM_MULAW)) {
                m_audio = int(i);
                break;
            }
        }
        if (m_video < 0 && m_audio < 0) {
            *error = TRV_PLAY_ERR_FORMAT;
            return false;
        }
        if (m_video >= 0) {
            AVCodecParameters *copy = avcodec_parameters_alloc();
            avcodec_parameters_copy(copy, m_ctx->streams[m_video]->codecpar);
            m_videoParams.reset(copy, freeParameters);
            const AVRational fr = av_guess_frame_rate(m_ctx, m_ctx->streams[m_video], nullptr);
            m_frameRate = fr.num > 0 && fr.den > 0 ? int(av_q2d(fr) + 0.5) : 25;
        }
        m_durationMs = m_ctx->duration > 0 ? m_ctx->duration / 1000 : 0;
        return true;
    }

    bool read(MediaPacket *packet, std::vector<uint8_t> *raw) override
    {
        if (raw)
            raw->clear();
        AVPacket *pkt = av_packet_alloc();
        bool got = false;
        while (!got && av_read_frame(m_ctx, pkt) >= 0) {
            const int index = pkt->stream_index;
            if (index == m_video || index == m_audio) {
                const AVStream *st = m_ctx->streams[index];
                MediaPacket p;
                p.kind = index == m_video ? MediaPacket::Video : MediaPacket::Audio;
                p.codecId = st->codecpar->codec_id;
                p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
                const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                if (pts != AV_NOPTS_VALUE)
                    p.timestampMs = av_rescale_q(pts, st->time_base, AVRational { 1, 1000 });
                if (p.kind == MediaPacket::Video) {
                    p.rate = m_frameRate;
                    p.width = st->codecpar->width;
                    p.height = st->codecpar->height;
                    p.parameters = m_videoParams;
                } else {
                    p.rate = st->codecpar->sample_rate;
                }
                p.data.assign(pkt->data, pkt->data + pkt->size);
                *packet = std::move(p);
                got = true;
            }
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        return got;
    }

    bool seekRelative(double position) override
    {
        position = std::clamp(position, 0.0, 1.0);
        const int64_t target = int64_t(position * double(m_durationMs)) * 1000; // AV_TIME_BASE
        return av_seek_frame(m_ctx, -1, target, AVSEEK_FLAG_BACKWARD) >= 0;
    }

    int64_t timestampAt(double position) const override
    {
        return int64_t(std::clamp(position, 0.0, 1.0) * double(m_durationMs));
    }

    double positionOf(int64_t timestampMs) const override
    {
        if (m_durationMs <= 0)
            return 0.0;
        return std::clamp(double(timestampMs) / double(m_durationMs), 0.0, 1.0);
    }

    bool hasAudio() const override { return m_audio >= 0; }
    int audioRate() const override
    {
        return m_audio >= 0 ? m_ctx->streams[m_audio]->codecpar->sample_rate : 0;
    }
    AVCodecID audioCodec() const override
    {
        return m_audio >= 0 ? m_ctx->streams[m_audio]->codecpar->codec_id : AV_CODEC_ID_NONE;
    }

private:
    AVFormatContext *m_ctx = nullptr;
    int m_video = -1;
    int m_audio = -1;
    int m_frameRate = 25;
    int64_t m_durationMs = 0;
    std::shared_ptr<const AVCodecParameters> m_videoParams;
};

bool looksLikeAvi(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    unsigned char head[12] = {};
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
}

} // namespace

std::unique_ptr<FileSource> FileSource::open(const std::string &path, int *error)
{
    if (looksLikeAvi(path)) {
        auto avi = std::make_unique<AviSource>();
        if (!avi->open(path, error))
            return nullptr;
        return avi;
    }
    auto stream = std::make_unique<StreamFileSource>();
    if (!stream->open(path, error))
        return nullptr;
    return stream;
}
