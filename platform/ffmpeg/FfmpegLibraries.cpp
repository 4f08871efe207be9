#include "FfmpegLibraries.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/version.h>
#include <libswscale/swscale.h>
#include <libswscale/version.h>
}

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace {

#define QV_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)

// The libraries, opened together on first use; they stay open until exit.
struct Libraries
{
    void *handles[FfmpegLibraries::kCount] = {};
    Libraries()
    {
        const char *const names[FfmpegLibraries::kCount] = {
            QV_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
            QV_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
            QV_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
            QV_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR),
        };
        for (int i = 0; i < FfmpegLibraries::kCount; ++i) {
            handles[i] = ::dlopen(names[i], RTLD_NOW | RTLD_LOCAL);
            if (!handles[i])
                std::fprintf(stderr, "cannot load %s: %s\n", names[i], ::dlerror());
        }
    }
};

} // namespace

void *FfmpegLibraries::symbol(Library library, const char *name)
{
    static const Libraries libraries; // thread-safe on first use
    void *found = libraries.handles[library] ? ::dlsym(libraries.handles[library], name) : nullptr;
    if (!found) {
        // Without FFmpeg the library cannot work at all, as when it failed to link.
        std::fprintf(stderr, "FFmpeg function %s is missing\n", name);
        std::abort();
    }
    return found;
}

// Each forwarder looks its function up once and calls it. The names are
// FFmpeg's own, so the libraries' code calls FFmpeg as usual.
#define QV_FORWARD(library, result, name, params, args)                                                      \
    extern "C" result name params                                                                            \
    {                                                                                                        \
        using Function = result(*) params;                                                                   \
        static const Function real                                                                           \
            = reinterpret_cast<Function>(FfmpegLibraries::symbol(FfmpegLibraries::library, #name));          \
        return real args;                                                                                    \
    }

QV_FORWARD(Codec, int, av_new_packet, (AVPacket * pkt, int size), (pkt, size))
QV_FORWARD(Codec, AVPacket *, av_packet_alloc, (void), ())
QV_FORWARD(Codec, void, av_packet_free, (AVPacket * *pkt), (pkt))
QV_FORWARD(Codec, void, av_packet_rescale_ts, (AVPacket * pkt, AVRational tb_src, AVRational tb_dst),
    (pkt, tb_src, tb_dst))
QV_FORWARD(Codec, void, av_packet_unref, (AVPacket * pkt), (pkt))
QV_FORWARD(Codec, AVCodecContext *, avcodec_alloc_context3, (const AVCodec *codec), (codec))
QV_FORWARD(Codec, const AVCodec *, avcodec_find_decoder, (enum AVCodecID id), (id))
QV_FORWARD(Codec, const AVCodec *, avcodec_find_encoder, (enum AVCodecID id), (id))
QV_FORWARD(Codec, const AVCodec *, avcodec_find_encoder_by_name, (const char *name), (name))
QV_FORWARD(Codec, void, avcodec_flush_buffers, (AVCodecContext * avctx), (avctx))
QV_FORWARD(Codec, void, avcodec_free_context, (AVCodecContext * *avctx), (avctx))
QV_FORWARD(Codec, int, avcodec_open2, (AVCodecContext * avctx, const AVCodec *codec, AVDictionary **options),
    (avctx, codec, options))
QV_FORWARD(Codec, AVCodecParameters *, avcodec_parameters_alloc, (void), ())
QV_FORWARD(
    Codec, int, avcodec_parameters_copy, (AVCodecParameters * dst, const AVCodecParameters *src), (dst, src))
QV_FORWARD(Codec, void, avcodec_parameters_free, (AVCodecParameters * *par), (par))
QV_FORWARD(Codec, int, avcodec_parameters_to_context, (AVCodecContext * codec, const AVCodecParameters *par),
    (codec, par))
QV_FORWARD(Codec, int, avcodec_receive_frame, (AVCodecContext * avctx, AVFrame *frame), (avctx, frame))
QV_FORWARD(Codec, int, avcodec_receive_packet, (AVCodecContext * avctx, AVPacket *avpkt), (avctx, avpkt))
QV_FORWARD(Codec, int, avcodec_send_frame, (AVCodecContext * avctx, const AVFrame *frame), (avctx, frame))
QV_FORWARD(Codec, int, avcodec_send_packet, (AVCodecContext * avctx, const AVPacket *avpkt), (avctx, avpkt))
QV_FORWARD(Format, int, av_find_best_stream,
    (AVFormatContext * ic, enum AVMediaType type, int wanted_stream_nb, int related_stream,
        const AVCodec **decoder_ret, int flags),
    (ic, type, wanted_stream_nb, related_stream, decoder_ret, flags))
QV_FORWARD(Format, AVRational, av_guess_frame_rate, (AVFormatContext * ctx, AVStream *stream, AVFrame *frame),
    (ctx, stream, frame))
QV_FORWARD(Format, int, av_interleaved_write_frame, (AVFormatContext * s, AVPacket *pkt), (s, pkt))
QV_FORWARD(Format, int, av_read_frame, (AVFormatContext * s, AVPacket *pkt), (s, pkt))
QV_FORWARD(Format, int, av_seek_frame, (AVFormatContext * s, int stream_index, int64_t timestamp, int flags),
    (s, stream_index, timestamp, flags))
QV_FORWARD(Format, int, av_write_trailer, (AVFormatContext * s), (s))
QV_FORWARD(Format, int, avformat_alloc_output_context2,
    (AVFormatContext * *ctx, const AVOutputFormat *oformat, const char *format_name, const char *filename),
    (ctx, oformat, format_name, filename))
QV_FORWARD(Format, void, avformat_close_input, (AVFormatContext * *s), (s))
QV_FORWARD(
    Format, int, avformat_find_stream_info, (AVFormatContext * ic, AVDictionary **options), (ic, options))
QV_FORWARD(Format, void, avformat_free_context, (AVFormatContext * s), (s))
QV_FORWARD(Format, AVStream *, avformat_new_stream, (AVFormatContext * s, const AVCodec *c), (s, c))
QV_FORWARD(Format, int, avformat_open_input,
    (AVFormatContext * *ps, const char *url, const AVInputFormat *fmt, AVDictionary **options),
    (ps, url, fmt, options))
QV_FORWARD(Format, int, avformat_write_header, (AVFormatContext * s, AVDictionary **options), (s, options))
QV_FORWARD(Format, int, avio_closep, (AVIOContext * *s), (s))
QV_FORWARD(Format, int, avio_open, (AVIOContext * *s, const char *url, int flags), (s, url, flags))
QV_FORWARD(Util, AVBufferRef *, av_buffer_alloc, (size_t size), (size))
QV_FORWARD(Util, int, av_buffer_is_writable, (const AVBufferRef *buf), (buf))
QV_FORWARD(Util, AVBufferRef *, av_buffer_ref, (const AVBufferRef *buf), (buf))
QV_FORWARD(Util, void, av_buffer_unref, (AVBufferRef * *buf), (buf))
QV_FORWARD(Util, void, av_channel_layout_default, (AVChannelLayout * ch_layout, int nb_channels),
    (ch_layout, nb_channels))
QV_FORWARD(Util, AVFrame *, av_frame_alloc, (void), ())
QV_FORWARD(Util, void, av_frame_free, (AVFrame * *frame), (frame))
QV_FORWARD(Util, int, av_frame_get_buffer, (AVFrame * frame, int align), (frame, align))
QV_FORWARD(Util, int, av_frame_make_writable, (AVFrame * frame), (frame))
QV_FORWARD(Util, int, av_frame_ref, (AVFrame * dst, const AVFrame *src), (dst, src))
QV_FORWARD(Util, void, av_log_set_level, (int level), (level))
QV_FORWARD(Util, void *, av_mallocz, (size_t size), (size))
QV_FORWARD(Util, int, av_opt_set, (void *obj, const char *name, const char *val, int search_flags),
    (obj, name, val, search_flags))
QV_FORWARD(Util, const AVPixFmtDescriptor *, av_pix_fmt_desc_get, (enum AVPixelFormat pix_fmt), (pix_fmt))
QV_FORWARD(Util, int64_t, av_rescale_q, (int64_t a, AVRational bq, AVRational cq), (a, bq, cq))
QV_FORWARD(Scale, void, sws_freeContext, (struct SwsContext * swsContext), (swsContext))
QV_FORWARD(Scale, struct SwsContext *, sws_getCachedContext,
    (struct SwsContext * context, int srcW, int srcH, enum AVPixelFormat srcFormat, int dstW, int dstH,
        enum AVPixelFormat dstFormat, int flags, SwsFilter *srcFilter, SwsFilter *dstFilter,
        const double *param),
    (context, srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter, dstFilter, param))
QV_FORWARD(Scale, struct SwsContext *, sws_getContext,
    (int srcW, int srcH, enum AVPixelFormat srcFormat, int dstW, int dstH, enum AVPixelFormat dstFormat,
        int flags, SwsFilter *srcFilter, SwsFilter *dstFilter, const double *param),
    (srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter, dstFilter, param))
QV_FORWARD(Scale, int, sws_scale,
    (struct SwsContext * c, const uint8_t *const srcSlice[], const int srcStride[], int srcSliceY,
        int srcSliceH, uint8_t *const dst[], const int dstStride[]),
    (c, srcSlice, srcStride, srcSliceY, srcSliceH, dst, dstStride))
