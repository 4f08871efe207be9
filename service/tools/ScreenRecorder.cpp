#include "ScreenRecorder.h"

#include <QDebug>
#include <QFileInfo>

#include <chrono>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

CScreenRecorder *g_instance = nullptr;

constexpr int kFifoFrames = 30;
// Consecutive capture read failures after which the recording ends.
constexpr int kMaxReadFailures = 50;

std::atomic<int64_t> g_decodedFrames { 0 };

bool isH264Suffix(const QString &suffix)
{
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("mkv") || suffix == QLatin1String("mov");
}

AVCodecID codecForSuffix(const QString &suffix)
{
    if (isH264Suffix(suffix))
        return AV_CODEC_ID_H264;
    if (suffix == QLatin1String("wmv"))
        return AV_CODEC_ID_MSMPEG4V3;
    if (suffix == QLatin1String("flv"))
        return AV_CODEC_ID_FLV1;
    return AV_CODEC_ID_MPEG4;
}

} // namespace

CScreenRecorder *CScreenRecorder::instance()
{
    if (!g_instance)
        g_instance = new CScreenRecorder;
    return g_instance;
}

void CScreenRecorder::releaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

CScreenRecorder::CScreenRecorder() = default;

CScreenRecorder::~CScreenRecorder()
{
    stopRecord();
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_recordThread.joinable())
        m_recordThread.join();
}

void CScreenRecorder::setRecordParam(const QVariantMap &param)
{
    m_filePath = param.value(QStringLiteral("filePath")).toString();
    m_width = param.value(QStringLiteral("width")).toInt();
    m_height = param.value(QStringLiteral("height")).toInt();
    m_frameRate = param.value(QStringLiteral("fps")).toInt();
}

void CScreenRecorder::setCaptureInput(
    const QString &format, const QString &device, const QVariantMap &options)
{
    m_inputFormat = format;
    m_inputDevice = device;
    m_inputOptions = options;
}

bool CScreenRecorder::startRecord()
{
    if (m_state == Recording)
        return true;
    if (m_filePath.isEmpty() || m_width <= 0 || m_height <= 0 || m_width % 2 || m_height % 2
        || m_frameRate <= 0) {
        qDebug() << "start record: invalid parameters" << m_filePath << m_width << m_height << m_frameRate;
        return false;
    }
    qDebug() << "start record";
    std::lock_guard<std::mutex> lock(m_threadMutex);
    // A recording that is still finishing ends before the next one begins.
    if (m_recordThread.joinable())
        m_recordThread.join();
    m_state = Recording;
    m_running = true;
    m_recordThread = std::thread([this] { recordThread(); });
    return true;
}

bool CScreenRecorder::stopRecord()
{
    qDebug() << "stop record";
    int expected = Recording;
    if (!m_state.compare_exchange_strong(expected, StopRequested) && expected == Idle)
        m_state = StopRequested;
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    m_frameCondition.notify_all();
    m_spaceCondition.notify_all();
    return true;
}

bool CScreenRecorder::waitStopped(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_threadMutex);
    return m_stoppedCondition.wait_for(
        lock, std::chrono::milliseconds(milliseconds), [this] { return !m_running; });
}

void CScreenRecorder::recordThread()
{
    try {
        avdevice_register_all();
        m_headerWritten = false;
        m_packetsFlushed = 0;
        m_encodedFrames = 0;
        m_captureDone = false;
        m_abort = false;
        if (openInput() < 0 || openOutput() < 0 || allocFrameFifo() < 0) {
            release();
            m_state = Idle;
        } else {
            m_captureThread = std::thread([this] { captureThread(); });
            AVPacket *packet = av_packet_alloc();
            int64_t n = 0;
            bool fatal = !packet;
            while (!fatal) {
                {
                    std::unique_lock<std::mutex> lock(m_fifoMutex);
                    m_frameCondition.wait(
                        lock, [this] { return av_fifo_can_read(m_fifo) >= 1 || m_captureDone; });
                    if (av_fifo_can_read(m_fifo) < 1)
                        break; // the capture has ended and every frame is encoded
                    av_fifo_read(m_fifo, m_outputBuffer, 1);
                    m_spaceCondition.notify_one();
                }
                m_outputFrame->pts = n++;
                const int ret = avcodec_send_frame(m_encoderContext, m_outputFrame);
                if (ret < 0) {
                    qDebug() << "video avcodec_send_frame failed, ret: " << ret;
                    continue;
                }
                ++m_encodedFrames;
                fatal = !receivePackets(packet);
            }
            av_packet_free(&packet);
            {
                // After a fatal error the capture thread may wait for room.
                std::lock_guard<std::mutex> lock(m_fifoMutex);
                m_abort = true;
                m_spaceCondition.notify_all();
            }
            m_captureThread.join();
            flushEncoder();
            if (m_headerWritten)
                av_write_trailer(m_outputContext);
            release();
            m_state = StopRequested;
            qDebug() << "parent thread exit";
        }
    } catch (...) {
        qWarning() << "CScreenRecorder::recordThread failed";
        m_state = StopRequested;
    }
    std::lock_guard<std::mutex> lock(m_threadMutex);
    m_running = false;
    m_stoppedCondition.notify_all();
}

bool CScreenRecorder::receivePackets(AVPacket *packet)
{
    for (;;) {
        const int ret = avcodec_receive_packet(m_encoderContext, packet);
        if (ret == AVERROR(EAGAIN))
            return true;
        if (ret < 0) {
            qDebug() << "video avcodec_receive_packet failed, ret: " << ret;
            return false;
        }
        writePacket(packet);
    }
}

int CScreenRecorder::writePacket(AVPacket *packet)
{
    av_packet_rescale_ts(
        packet, m_encoderContext->time_base, m_outputContext->streams[m_outputStreamIndex]->time_base);
    packet->stream_index = m_outputStreamIndex;
    const int ret = av_interleaved_write_frame(m_outputContext, packet);
    if (ret < 0)
        qDebug() << "video av_interleaved_write_frame failed, ret:" << ret;
    return ret;
}

int CScreenRecorder::openInput()
{
    QString format = m_inputFormat;
    QString device = m_inputDevice;
    AVDictionary *options = nullptr;
    if (format.isEmpty()) {
        format = QStringLiteral("x11grab");
        device = qEnvironmentVariable("DISPLAY");
        av_dict_set(&options, "framerate", QByteArray::number(m_frameRate).constData(), 0);
    }
    for (auto it = m_inputOptions.cbegin(); it != m_inputOptions.cend(); ++it)
        av_dict_set(&options, it.key().toUtf8().constData(), it.value().toString().toUtf8().constData(), 0);
    const AVInputFormat *input = av_find_input_format(format.toUtf8().constData());
    int ret = input ? avformat_open_input(&m_inputContext, device.toUtf8().constData(), input, &options) : -1;
    av_dict_free(&options);
    if (ret != 0) {
        qDebug() << "Cant not open video input stream";
        return -1;
    }
    if (avformat_find_stream_info(m_inputContext, nullptr) < 0) {
        qDebug() << "Couldn't find stream information";
        return -1;
    }
    m_videoStreamIndex = av_find_best_stream(m_inputContext, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *decoder = m_videoStreamIndex < 0
        ? nullptr
        : avcodec_find_decoder(m_inputContext->streams[m_videoStreamIndex]->codecpar->codec_id);
    if (!decoder) {
        qDebug() << "avcodec_find_decoder failed";
        return -1;
    }
    m_decoderContext = avcodec_alloc_context3(decoder);
    if (!m_decoderContext)
        return -1;
    ret = avcodec_parameters_to_context(
        m_decoderContext, m_inputContext->streams[m_videoStreamIndex]->codecpar);
    if (ret < 0) {
        qDebug() << "Video avcodec_parameters_to_context failed,error code: " << ret;
        return -1;
    }
    if (avcodec_open2(m_decoderContext, decoder, nullptr) < 0) {
        qDebug() << "avcodec_open2 failed";
        return -1;
    }
    return 0;
}

void CScreenRecorder::setEncoderOptions()
{
    AVCodecContext *c = m_encoderContext;
    c->width = m_width;
    c->height = m_height;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->time_base = AVRational { 1, m_frameRate };
    c->framerate = AVRational { m_frameRate, 1 };
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    const QString suffix = QFileInfo(m_filePath).suffix().toLower();
    c->codec_id = codecForSuffix(suffix);
    if (isH264Suffix(suffix)) {
        c->bit_rate = 1000000;
        c->rc_max_rate = 1000000;
        c->rc_buffer_size = 500000;
        c->gop_size = 30;
        c->max_b_frames = 3;
        c->qmin = 10;
        c->qmax = 31;
        c->max_qdiff = 4;
        c->me_range = 16;
        c->qcompress = 0.6f;
        av_dict_set(&m_encoderOptions, "profile", "high", 0);
        av_dict_set(&m_encoderOptions, "preset", "ultrafast", 0);
        av_dict_set(&m_encoderOptions, "threads", "0", 0);
        av_dict_set(&m_encoderOptions, "crf", "26", 0);
        av_dict_set(&m_encoderOptions, "tune", "zerolatency", 0);
        return;
    }
    c->bit_rate = 4096000;
}

int CScreenRecorder::openOutput()
{
    const QByteArray path = m_filePath.toUtf8();
    if (avformat_alloc_output_context2(&m_outputContext, nullptr, nullptr, path.constData()) < 0
        || !m_outputContext) {
        qDebug() << "avformat_alloc_output_context2 failed";
        return -1;
    }
    AVStream *stream = avformat_new_stream(m_outputContext, nullptr);
    if (!stream) {
        qDebug() << "can not new stream for output";
        return -1;
    }
    m_outputStreamIndex = stream->index;
    stream->time_base = AVRational { 1, m_frameRate };
    // The context is made for the encoder, so that it starts from the encoder's defaults.
    const AVCodecID codecId = codecForSuffix(QFileInfo(m_filePath).suffix().toLower());
    const AVCodec *encoder = avcodec_find_encoder(codecId);
    if (!encoder) {
        qDebug() << "Can not find the encoder, id: " << codecId;
        return -1;
    }
    m_encoderContext = avcodec_alloc_context3(encoder);
    if (!m_encoderContext) {
        qDebug() << "avcodec_alloc_context3 failed";
        return -1;
    }
    setEncoderOptions();
    stream->codecpar->codec_tag = 0;
    if (m_outputContext->oformat->flags & AVFMT_GLOBALHEADER)
        m_encoderContext->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(m_encoderContext, encoder, &m_encoderOptions);
    if (ret < 0) {
        qDebug() << "Can not open encoder id: " << encoder->id << "error code: " << ret;
        return -1;
    }
    ret = avcodec_parameters_from_context(stream->codecpar, m_encoderContext);
    if (ret < 0) {
        qDebug() << "Output avcodec_parameters_from_context,error code:" << ret;
        return -1;
    }
    if (!(m_outputContext->oformat->flags & AVFMT_NOFILE)
        && avio_open(&m_outputContext->pb, path.constData(), AVIO_FLAG_WRITE) < 0) {
        qDebug() << "avio_open failed";
        return -1;
    }
    if (avformat_write_header(m_outputContext, nullptr) < 0) {
        qDebug() << "avformat_write_header failed";
        return -1;
    }
    m_headerWritten = true;
    return 0;
}

int CScreenRecorder::allocFrameFifo()
{
    m_frameSize = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, m_width, m_height, 1);
    m_fifo = m_frameSize > 0 ? av_fifo_alloc2(kFifoFrames, size_t(m_frameSize), 0) : nullptr;
    m_outputFrame = av_frame_alloc();
    m_outputBuffer = m_frameSize > 0 ? static_cast<uint8_t *>(av_malloc(size_t(m_frameSize))) : nullptr;
    if (!m_fifo || !m_outputFrame || !m_outputBuffer) {
        qDebug() << "av_fifo_alloc_array failed";
        return -1;
    }
    av_image_fill_arrays(m_outputFrame->data, m_outputFrame->linesize, m_outputBuffer, AV_PIX_FMT_YUV420P,
        m_width, m_height, 1);
    m_outputFrame->format = AV_PIX_FMT_YUV420P;
    m_outputFrame->width = m_width;
    m_outputFrame->height = m_height;
    return 0;
}

void CScreenRecorder::captureThread()
{
    AVFrame *decoded = av_frame_alloc();
    AVFrame *converted = av_frame_alloc();
    uint8_t *buffer = static_cast<uint8_t *>(av_malloc(size_t(m_frameSize)));
    AVPacket *packet = av_packet_alloc();
    if (decoded && converted && buffer && packet) {
        av_image_fill_arrays(
            converted->data, converted->linesize, buffer, AV_PIX_FMT_YUV420P, m_width, m_height, 1);
        int failures = 0;
        bool running = true;
        while (running && m_state != StopRequested) {
            const int read = av_read_frame(m_inputContext, packet);
            if (read < 0) {
                if (read == AVERROR_EOF)
                    break;
                qDebug() << "video av_read_frame < 0";
                // A failing device is tried again more and more slowly, then given up.
                if (++failures >= kMaxReadFailures)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10 * failures));
                continue;
            }
            failures = 0;
            if (packet->stream_index != m_videoStreamIndex) {
                qDebug() << "not a video packet from video input";
            } else if (avcodec_send_packet(m_decoderContext, packet) < 0) {
                qDebug() << "avcodec_send_packet failed, ret:";
            } else {
                const int ret = avcodec_receive_frame(m_decoderContext, decoded);
                if (ret < 0)
                    qDebug() << "avcodec_receive_frame failed, ret:" << ret;
                else
                    running = queueFrame(decoded, converted);
            }
            av_packet_unref(packet);
        }
        flushDecoder(decoded, converted);
    }
    av_packet_free(&packet);
    av_free(buffer);
    av_frame_free(&converted);
    av_frame_free(&decoded);
    qDebug() << "screen record thread exit";
    std::lock_guard<std::mutex> lock(m_fifoMutex);
    m_captureDone = true;
    m_frameCondition.notify_all();
}

bool CScreenRecorder::queueFrame(const AVFrame *decoded, AVFrame *converted)
{
    m_scaler = sws_getCachedContext(m_scaler, decoded->width, decoded->height, AVPixelFormat(decoded->format),
        m_width, m_height, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    sws_scale(
        m_scaler, decoded->data, decoded->linesize, 0, decoded->height, converted->data, converted->linesize);
    ++g_decodedFrames;
    std::unique_lock<std::mutex> lock(m_fifoMutex);
    m_spaceCondition.wait(lock, [this] { return av_fifo_can_write(m_fifo) >= 1 || m_abort; });
    if (m_abort)
        return false;
    // The converted planes lie one after the other in one buffer: Y, U, V.
    av_fifo_write(m_fifo, converted->data[0], 1);
    m_frameCondition.notify_one();
    return true;
}

void CScreenRecorder::flushDecoder(AVFrame *decoded, AVFrame *converted)
{
    qDebug() << "flush avcodec_send_packet, ret: " << avcodec_send_packet(m_decoderContext, nullptr);
    for (;;) {
        const int ret = avcodec_receive_frame(m_decoderContext, decoded);
        if (ret == AVERROR_EOF) {
            qDebug() << "flush video decoder finished";
            break;
        }
        if (ret < 0) {
            qDebug() << "flush video avcodec_receive_frame error, ret: " << ret;
            break;
        }
        if (!queueFrame(decoded, converted))
            break;
    }
    qDebug() << "collect frame count: " << g_decodedFrames.load();
}

void CScreenRecorder::flushEncoder()
{
    if (!m_headerWritten)
        return;
    int ret = avcodec_send_frame(m_encoderContext, nullptr);
    qDebug() << "avcodec_send_frame ret:" << ret;
    if (ret < 0)
        return;
    AVPacket *packet = av_packet_alloc();
    while (packet) {
        ret = avcodec_receive_packet(m_encoderContext, packet);
        if (ret == AVERROR_EOF) {
            qDebug() << "flush video encoder finished";
            break;
        }
        if (ret < 0) {
            qDebug() << "video avcodec_receive_packet failed, ret: " << ret;
            break;
        }
        qDebug() << "flush Write video packet id: " << ++m_packetsFlushed;
        if (writePacket(packet) < 0)
            break;
    }
    av_packet_free(&packet);
}

void CScreenRecorder::release()
{
    av_frame_free(&m_outputFrame);
    av_freep(&m_outputBuffer);
    avcodec_free_context(&m_decoderContext);
    avcodec_free_context(&m_encoderContext);
    av_dict_free(&m_encoderOptions);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    av_fifo_freep2(&m_fifo);
    avformat_close_input(&m_inputContext);
    if (m_outputContext && !(m_outputContext->oformat->flags & AVFMT_NOFILE))
        avio_closep(&m_outputContext->pb);
    avformat_free_context(m_outputContext);
    m_outputContext = nullptr;
    m_headerWritten = false;
}
