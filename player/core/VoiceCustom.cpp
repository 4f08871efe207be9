#include "VoiceCustom.h"

#include "LightWeightLog.h"
#include "VoiceFrame.h"
#include "common/Json.h"
#include "common/PageMessage.h"
#include "common/ProgramDir.h"

#include "lumarel/lumarel.h"

#include <QFile>
#include <QMetaType>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr unsigned int kTestPoolSize = 5120000;

VoiceCustom *g_instance = nullptr;

QString voiceEvent(EventKind kind, int ret, bool withPos = false, qint64 pos = 0)
{
    Json::Value event = pageEvent(kind);
    event["Ret"] = ret;
    if (withPos)
        event["Pos"] = Json::Int64(pos);
    return JsonUtil::writeCompactText(event);
}

} // namespace

std::atomic<int> VoiceCustom::s_nFrameSize { 160 };

VoiceCustom *VoiceCustom::GetInstance()
{
    if (!g_instance)
        g_instance = new VoiceCustom;
    return g_instance;
}

void VoiceCustom::ReleaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

VoiceCustom::VoiceCustom()
    : m_strFilePath(ProgramDir::folder() + QStringLiteral("/customAlarmVoice.pcm"))
{
    qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
    connect(this, &VoiceCustom::returnToMainThread, this, [](std::function<void(void)> task) {
        if (task)
            task();
    });
}

VoiceCustom::~VoiceCustom()
{
    {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        m_nState = Idle;
        if (m_bCapturing)
            TRV_PLAY_StopAudioCapture();
        m_bCapturing = false;
    }
    m_bStopTest = true;
    joinTest();
}

QString VoiceCustom::filePath() const
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_strFilePath;
}

void VoiceCustom::setFilePath(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    m_strFilePath = path;
}

void VoiceCustom::SetSampleRate16K(bool on)
{
    if (!on)
        return;
    s_nFrameSize = 320;
    m_nSampleRate = 16000;
}

int VoiceCustom::StartRecordVoice()
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_nState.load() != Idle)
        return -3;
    // The capture of a recording that reached its limit may still wait for its stop.
    if (m_bCapturing)
        TRV_PLAY_StopAudioCapture();
    m_bCapturing = false;
    int expected = Idle;
    if (!m_nState.compare_exchange_strong(expected, Recording))
        return -3;
    QFile file(filePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.close();
    ++m_nGeneration;
    if (!TRV_PLAY_StartAudioCapture(
            &VoiceCustom::AudioCaptureCallback, 16, m_nSampleRate.load(), kCaptureBlockBytes, this)) {
        // No microphone (no sound server): nothing is recorded.
        playerLog("VoiceCustom::StartRecordVoice",
            QStringLiteral("TRV_PLAY_StartAudioCapture failed m_lError = %1").arg(TRV_PLAY_GetLastError(0)),
            LightWeightLog::Error);
        m_nState = Idle;
        return -2;
    }
    m_bCapturing = true;
    return 0;
}

int VoiceCustom::StopRecordVoice()
{
    if (m_nState.load() != Recording)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        // Another stop may have got here first.
        if (m_bCapturing) {
            if (!TRV_PLAY_StopAudioCapture()) {
                playerLog("VoiceCustom::StopRecordVoice",
                    QStringLiteral("Sound Play Error :%1").arg(TRV_PLAY_GetLastError(0)),
                    LightWeightLog::Error);
                return -1;
            }
            m_bCapturing = false;
        }
    }
    // The size limit may have ended the recording meanwhile and said so.
    if (endRecording())
        emit VoiceRecordTime(voiceEvent(PageEvent::VoiceRecordEnded, Ret::Ok));
    return 0;
}

bool VoiceCustom::endRecording()
{
    int expected = Recording;
    return m_nState.compare_exchange_strong(expected, Idle);
}

void VoiceCustom::stopCapture(quint64 generation)
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_bCapturing && m_nGeneration.load() == generation && m_nState.load() != Recording) {
        TRV_PLAY_StopAudioCapture();
        m_bCapturing = false;
    }
}

void VoiceCustom::AudioCaptureCallback(const char *pcm, unsigned int length, void *user)
{
    if (auto *self = static_cast<VoiceCustom *>(user))
        self->onCaptureBlock(pcm, length);
}

void VoiceCustom::onCaptureBlock(const char *pcm, unsigned int length)
{
    // Blocks that come after the recording ended are not part of it.
    if (m_nState.load() != Recording)
        return;
    std::FILE *file = std::fopen(filePath().toLocal8Bit().constData(), "ab+");
    if (!file)
        return;
    unsigned char codes[kEncodeBufferSize];
    qint64 encoded = 0;
    bool writeFailed = false;
    const bool ok
        = EncodeALawPieces(pcm, length, kEncodeBufferSize, codes, [&](const unsigned char *c, int count) {
              if (std::fwrite(c, 1, size_t(count), file) != size_t(count)) {
                  writeFailed = true;
                  return false;
              }
              encoded += count;
              return true;
          });
    if (!ok && !writeFailed) {
        std::fclose(file);
        return;
    }
    if (std::fflush(file) != 0)
        writeFailed = true;
    const long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    std::fclose(file);
    const quint64 generation = m_nGeneration.load();
    auto stopTask = [this, generation] { stopCapture(generation); };

    QString event;
    if (writeFailed || size < 0) {
        if (!endRecording())
            return;
        emit returnToMainThread(stopTask);
        event = voiceEvent(PageEvent::VoiceRecordEnded, Ret::Failed);
    } else {
        const qint64 pos = (100 - (qint64(size) + encoded) * 100 / kMaxFileBytes) / 20;
        if (size > kMaxFileBytes) {
            // Exactly one "ended" event, even if a stop request comes at the same time.
            if (!endRecording())
                return;
            emit returnToMainThread(stopTask);
            event = voiceEvent(PageEvent::VoiceRecordEnded, Ret::Ok, true, pos);
        } else {
            event = voiceEvent(PageEvent::VoiceRecorded, Ret::Ok, true, pos);
        }
    }
    emit VoiceRecordTime(event);
}

int VoiceCustom::StartTest()
{
    int expected = Idle;
    if (!m_nState.compare_exchange_strong(expected, Testing))
        return -1;
    QFile file(filePath());
    int result = 0;
    if (!file.open(QIODevice::ReadOnly))
        result = -2;
    else if (file.size() == 0)
        result = -3;
    file.close();
    if (result == 0) {
        // A previous test thread has finished its work; wait for its very end.
        joinTest();
        if (!OpenTestPort(kTestPort))
            result = -4;
    }
    if (result != 0) {
        m_nState = Idle;
        return result;
    }
    m_bStopTest = false;
    std::lock_guard<std::mutex> lock(m_testMutex);
    m_testThread = std::thread(&VoiceCustom::runTest, this);
    return 0;
}

int VoiceCustom::StopTest()
{
    {
        std::lock_guard<std::mutex> lock(m_testMutex);
        m_bStopTest = true;
    }
    m_testWake.notify_all();
    return 0;
}

void VoiceCustom::joinTest()
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_testMutex);
        finished = std::move(m_testThread);
    }
    m_testWake.notify_all();
    if (finished.joinable())
        finished.join();
}

int VoiceCustom::OpenTestPort(int port)
{
    const unsigned char head = 0;
    if (!TRV_PLAY_OpenStream(port, &head, 1, kTestPoolSize))
        return 0;
    if (!TRV_PLAY_SetStreamOpenMode(port, TRV_PLAY_STREAM_REALTIME) || !TRV_PLAY_Play(port, 0)) {
        TRV_PLAY_CloseStream(port);
        return 0;
    }
    if (!TRV_PLAY_PlaySoundShare(port)) {
        TRV_PLAY_Stop(port);
        TRV_PLAY_CloseStream(port);
        return 0;
    }
    return 1;
}

void VoiceCustom::CloseTestPort(int port)
{
    TRV_PLAY_StopSoundShare(port);
    TRV_PLAY_Stop(port);
    TRV_PLAY_CloseStream(port);
}

void VoiceCustom::runTest()
{
    playerLog("VoiceCustom::runTest", QStringLiteral("TestRecord begin"));
    std::FILE *file = std::fopen(filePath().toLocal8Bit().constData(), "rb");
    if (file) {
        const int frame = frameSize();
        const int rate = m_nSampleRate.load();
        std::vector<unsigned char> buffer(size_t(kVoiceFrameHeadSize + frame));
        auto due = std::chrono::steady_clock::now();
        for (;;) {
            due += std::chrono::milliseconds(kTestIntervalMs);
            {
                std::unique_lock<std::mutex> lock(m_testMutex);
                m_testWake.wait_until(lock, due, [this] { return m_bStopTest.load(); });
            }
            if (m_bStopTest.load())
                break;
            const size_t n = std::fread(buffer.data() + kVoiceFrameHeadSize, 1, size_t(frame), file);
            if (n == 0)
                break;
            // The head tells the bytes that follow, also for a short last frame.
            WriteVoiceFrameHead(buffer.data(), rate, int(n));
            TRV_PLAY_InputData(kTestPort, buffer.data(), unsigned(kVoiceFrameHeadSize + n));
        }
        std::fclose(file);
    }
    CloseTestPort(kTestPort);
    emit VoiceRecordTime(voiceEvent(PageEvent::VoiceTestEnded, Ret::Ok));
    m_nState = Idle;
    playerLog("VoiceCustom::runTest", QStringLiteral("TestRecord end"));
}
