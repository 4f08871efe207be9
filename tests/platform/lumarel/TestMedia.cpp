#include "TestMedia.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cmath>

namespace TestMedia {

QColor quadrantColour(int quadrant)
{
    static const QColor colours[4]
        = { QColor(220, 30, 30), QColor(30, 200, 30), QColor(30, 30, 220), QColor(235, 235, 235) };
    return colours[quadrant & 3];
}

namespace {

QByteArray frameBlock(const StreamFrameHeader &header, const uint8_t *payload, size_t length)
{
    StreamFrameHeader h = header;
    h.length = uint32_t(length);
    QByteArray block(int(kStreamFrameHeaderSize + length), '\0');
    writeStreamFrameHeader(h, reinterpret_cast<uint8_t *>(block.data()));
    std::copy(payload, payload + length, block.data() + kStreamFrameHeaderSize);
    return block;
}

uint8_t linearToAlaw(int16_t sample)
{
    int pcm = sample;
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static const int ends[8] = { 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF };
    int seg = 0;
    while (seg < 8 && pcm > ends[seg])
        ++seg;
    if (seg >= 8)
        return uint8_t(0x7F ^ mask);
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 4) & 0x0F : (pcm >> (seg + 3)) & 0x0F;
    return uint8_t(aval ^ mask);
}

QByteArray tone(int samples, int sampleRate, double frequency = 440, int64_t firstSample = 0)
{
    QByteArray bytes(samples, '\0');
    for (int i = 0; i < samples; ++i)
        bytes[i] = char(linearToAlaw(
            int16_t(6000 * std::sin(2 * M_PI * frequency * double(firstSample + i) / sampleRate))));
    return bytes;
}

} // namespace

std::vector<QByteArray> videoBlocks(const VideoOptions &o)
{
    std::vector<QByteArray> blocks;
    const char *encoderName = o.codec == kCodecH265 ? "libx265" : "libx264";
    const AVCodec *codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec)
        return blocks;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->width = o.width;
    ctx->height = o.height;
    ctx->time_base = AVRational { 1, o.fps };
    ctx->framerate = AVRational { o.fps, 1 };
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = o.gop;
    ctx->max_b_frames = 0;
    av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
    if (o.codec == kCodecH265)
        av_opt_set(ctx->priv_data, "x265-params", "repeat-headers=1:log-level=error", 0);
    else
        av_opt_set(ctx->priv_data, "x264-params", "repeat-headers=1", 0);
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return blocks;
    }

    // The picture: four quadrants, or the moving texture, converted from RGB.
    std::vector<uint8_t> rgb(size_t(o.width) * size_t(o.height) * 3);
    AVFrame *frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = o.width;
    frame->height = o.height;
    av_frame_get_buffer(frame, 0);
    SwsContext *sws = sws_getContext(o.width, o.height, AV_PIX_FMT_RGB24, o.width, o.height,
        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const auto paint = [&](int index) {
        for (int y = 0; y < o.height; ++y)
            for (int x = 0; x < o.width; ++x) {
                uint8_t *p = &rgb[(size_t(y) * size_t(o.width) + size_t(x)) * 3];
                if (o.textured) {
                    const int mx = x + 3 * index;
                    const bool square = ((mx / 24) + (y / 24)) % 2;
                    p[0] = uint8_t(128 + 90 * std::sin(mx / 9.0) * std::cos(y / 11.0));
                    p[1] = uint8_t(square ? 190 : 60);
                    p[2] = uint8_t(128 + 90 * std::sin((mx + y) / 13.0));
                    continue;
                }
                const QColor c = quadrantColour((y >= o.height / 2 ? 2 : 0) + (x >= o.width / 2 ? 1 : 0));
                p[0] = uint8_t(c.red());
                p[1] = uint8_t(c.green());
                p[2] = uint8_t(c.blue());
            }
        av_frame_make_writable(frame);
        const uint8_t *src[1] = { rgb.data() };
        const int srcStride[1] = { o.width * 3 };
        sws_scale(sws, src, srcStride, 0, o.height, frame->data, frame->linesize);
    };
    paint(0);

    AVPacket *pkt = av_packet_alloc();
    uint32_t sequence = 0;
    const auto drain = [&] {
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            StreamFrameHeader h;
            h.kind = (pkt->flags & AV_PKT_FLAG_KEY) ? kFrameVideoKey : kFrameVideoDelta;
            h.codec = o.codec;
            h.width = uint16_t(o.width);
            h.height = uint16_t(o.height);
            h.rate = uint16_t(o.fps);
            h.sequence = sequence++;
            h.timestampMs = o.startMs + pkt->pts * 1000 / o.fps;
            blocks.push_back(frameBlock(h, pkt->data, size_t(pkt->size)));
            av_packet_unref(pkt);
        }
    };
    for (int i = 0; i < o.frames; ++i) {
        if (o.textured)
            paint(i);
        av_frame_make_writable(frame);
        frame->pts = i;
        if (avcodec_send_frame(ctx, frame) == 0)
            drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return blocks;
}

QByteArray audioBlock(int samples, int sampleRate, int64_t timestampMs, double frequency, int64_t firstSample)
{
    StreamFrameHeader h;
    h.kind = kFrameAudio;
    h.codec = kCodecG711A;
    h.rate = uint16_t(sampleRate / 10);
    h.timestampMs = timestampMs;
    const QByteArray payload = tone(samples, sampleRate, frequency, firstSample);
    return frameBlock(h, reinterpret_cast<const uint8_t *>(payload.constData()), size_t(payload.size()));
}

QByteArray voiceFrame(int samples, int sampleRate)
{
    QByteArray frame(int(kVoiceFrameHeaderSize), '\0');
    writeVoiceFrameHeader(uint32_t(sampleRate), uint16_t(samples), reinterpret_cast<uint8_t *>(frame.data()));
    return frame + tone(samples, sampleRate);
}

QByteArray join(const std::vector<QByteArray> &blocks)
{
    QByteArray all;
    for (const QByteArray &b : blocks)
        all += b;
    return all;
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    QByteArray out = p.readAllStandardOutput();
    if (out.isNull())
        out = QByteArray("");
    return out;
}

QString probeVideo(const QString &file)
{
    return QString::fromUtf8(
        run(QStringLiteral("ffprobe"),
            { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=codec_name,width,height,nb_read_frames"), QStringLiteral("-of"),
                QStringLiteral("default=nw=1"), file }))
        .trimmed();
}

QString identify(const QString &file)
{
    return QString::fromUtf8(
        run(QStringLiteral("identify"), { QStringLiteral("-format"), QStringLiteral("%m %wx%h"), file }))
        .trimmed();
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

VideoOptions cameraLike()
{
    VideoOptions o;
    o.width = 352;
    o.height = 288;
    o.frames = 40;
    o.gop = 25;
    o.textured = true;
    return o;
}

QByteArray scaledReference(const std::vector<QByteArray> &blocks, QSize size)
{
    QTemporaryDir dir;
    const QString stream = dir.filePath(QStringLiteral("stream.h264"));
    {
        QFile f(stream);
        if (!f.open(QIODevice::WriteOnly))
            return QByteArray();
        for (const QByteArray &block : blocks)
            f.write(block.mid(int(kStreamFrameHeaderSize)));
    }
    const QByteArray frames = run(QStringLiteral("ffmpeg"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("h264"),
            QStringLiteral("-i"), stream, QStringLiteral("-vf"),
            QStringLiteral("scale=%1:%2:flags=area").arg(size.width()).arg(size.height()),
            QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
            QStringLiteral("rgb24"), QStringLiteral("-") });
    const int frameBytes = size.width() * size.height() * 3;
    if (frames.size() != frameBytes * int(blocks.size()))
        return QByteArray();
    return frames.right(frameBytes);
}

double psnr(const QImage &shown, const QByteArray &reference)
{
    const QImage rgb = shown.convertToFormat(QImage::Format_RGB888);
    if (reference.size() != rgb.width() * rgb.height() * 3)
        return 0;
    double squares = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *a = rgb.constScanLine(y);
        const auto *b
            = reinterpret_cast<const uchar *>(reference.constData()) + size_t(y) * size_t(rgb.width()) * 3;
        for (int i = 0; i < rgb.width() * 3; ++i)
            squares += double(a[i] - b[i]) * double(a[i] - b[i]);
    }
    const double mean = squares / (double(rgb.width()) * rgb.height() * 3);
    return mean > 0 ? 10 * std::log10(255.0 * 255.0 / mean) : 99;
}

} // namespace TestMedia
