#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The custom alarm voice: records the microphone as G.711 A-law into
// "customAlarmVoice.pcm" beside the player (at most a little over 40960
// bytes), and plays the recording back on the talk sound port for testing.
// One instance per process, made on the GUI thread; its operations are called
// from the request manager's worker thread, the capture callback runs on the
// play library's capture thread and the test playback on a thread of its own.
// Operations return 0 on success.
class VoiceCustom : public QObject
{
    Q_OBJECT

public:
    enum State { Idle = 0, Recording = 1, Testing = 2 };

    static constexpr int kTestPort = 499;
    static constexpr qint64 kMaxFileBytes = 40960;
    static constexpr int kCaptureBlockBytes = 320;
    static constexpr int kEncodeBufferSize = 2048;
    static constexpr int kTestIntervalMs = 20;

    static VoiceCustom *GetInstance();
    static void ReleaseInstance();

    // True switches to 16000 Hz and 320-byte test frames for the rest of the
    // process; false changes nothing.
    void SetSampleRate16K(bool on);
    // -3 while not idle, -2 when the capture cannot start.
    int StartRecordVoice();
    // 0 also when no recording runs; -1 when the capture could not be stopped.
    int StopRecordVoice();
    // -1 while not idle, -2 no file, -3 empty file, -4 the port cannot be opened.
    int StartTest();
    int StopTest();
    // 1 when the port plays, 0 (port closed again) on failure.
    int OpenTestPort(int port);
    void CloseTestPort(int port);

    int state() const { return m_nState.load(); }
    int sampleRate() const { return m_nSampleRate.load(); }
    static int frameSize() { return s_nFrameSize.load(); }
    QString filePath() const;
    // Tests record somewhere of their own.
    void setFilePath(const QString &path);

    static void AudioCaptureCallback(const char *pcm, unsigned int length, void *user);

signals:
    // An event for the page, as JSON text.
    void VoiceRecordTime(QString event);
    void returnToMainThread(std::function<void(void)> task);

private:
    VoiceCustom();
    ~VoiceCustom() override;

    void onCaptureBlock(const char *pcm, unsigned int length);
    // Ends the recording once: false when it had already ended.
    bool endRecording();
    // Stops the capture of recording `generation` unless a newer one runs.
    void stopCapture(quint64 generation);
    void runTest();
    void joinTest();

    std::atomic<int> m_nState { Idle };
    std::atomic<bool> m_bStopTest { false };
    std::atomic<int> m_nSampleRate { 8000 };
    static std::atomic<int> s_nFrameSize;

    mutable std::mutex m_pathMutex;
    QString m_strFilePath;

    // Capture start and stop. The capture callback never takes it: a stop
    // waits for the running callback to return.
    std::mutex m_captureMutex;
    bool m_bCapturing = false; // guarded by m_captureMutex
    std::atomic<quint64> m_nGeneration { 0 }; // changed under m_captureMutex

    std::mutex m_testMutex; // the test thread and its wake-up
    std::condition_variable m_testWake;
    std::thread m_testThread;
};
