#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct AVCodecContext;
struct AVDictionary;
struct AVFifo;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Records the desktop into a video file: a capture thread reads the X
// display through FFmpeg's x11grab device, converts each picture to planar
// YUV 4:2:0 at the configured size and queues it; the record thread encodes
// the queued pictures (H.264 for "mp4", "mkv" and "mov", other codecs for
// other suffixes) into the container the file name chooses.
class CScreenRecorder : public QObject
{
public:
    enum State { Idle = 0, Recording = 1, StopRequested = 3 };

    static CScreenRecorder *instance();
    static void releaseInstance();

    CScreenRecorder();
    ~CScreenRecorder() override;

    // "filePath" (text), "width", "height", "fps" (int); missing keys give an
    // empty text or 0.
    void setRecordParam(const QVariantMap &param);
    // The capture input: an FFmpeg input format, its device and options.
    // Unset, the display named by DISPLAY is grabbed at the frame rate.
    void setCaptureInput(const QString &format, const QString &device, const QVariantMap &options);

    // Starts a recording with the parameters now set. False for an empty
    // path, a width or height that is not positive and even, or a frame rate
    // that is not positive. A failed open of the input or the output ends
    // the recording at once and leaves the recorder idle.
    bool startRecord();
    // Asks the recording to end; its file is complete once waitStopped() returns.
    bool stopRecord();
    // Waits at most `milliseconds` for the recording's threads to end.
    bool waitStopped(int milliseconds);

    int state() const { return m_state; }
    // Pictures handed to the encoder by the current (or last) recording.
    int64_t encodedFrames() const { return m_encodedFrames; }

private:
    void recordThread();
    void captureThread();
    int openInput();
    int openOutput();
    void setEncoderOptions();
    int allocFrameFifo();
    bool queueFrame(const AVFrame *decoded, AVFrame *converted);
    void flushDecoder(AVFrame *decoded, AVFrame *converted);
    bool receivePackets(AVPacket *packet); // false on a fatal error
    int writePacket(AVPacket *packet);
    void flushEncoder();
    void release();

    QString m_filePath;
    int m_width = 0;
    int m_height = 0;
    int m_frameRate = 30;
    int m_videoStreamIndex = -1;
    int m_outputStreamIndex = -1;
    QString m_inputFormat;
    QString m_inputDevice;
    QVariantMap m_inputOptions;

    AVFormatContext *m_inputContext = nullptr;
    AVFormatContext *m_outputContext = nullptr;
    AVCodecContext *m_decoderContext = nullptr;
    AVCodecContext *m_encoderContext = nullptr;
    AVDictionary *m_encoderOptions = nullptr;
    SwsContext *m_scaler = nullptr;
    AVFifo *m_fifo = nullptr;
    AVFrame *m_outputFrame = nullptr;
    uint8_t *m_outputBuffer = nullptr;
    int m_frameSize = 0;
    bool m_headerWritten = false;
    int64_t m_packetsFlushed = 0;

    std::atomic<int> m_state { Idle };
    std::atomic<int64_t> m_encodedFrames { 0 };
    std::mutex m_fifoMutex; // guards m_fifo, m_captureDone, m_abort
    std::condition_variable m_spaceCondition;
    std::condition_variable m_frameCondition;
    bool m_captureDone = false;
    bool m_abort = false;

    std::mutex m_threadMutex; // guards m_recordThread and m_running
    std::condition_variable m_stoppedCondition;
    std::thread m_recordThread;
    std::thread m_captureThread;
    bool m_running = false;
};
