#include "Talk.h"

#include "LightWeightLog.h"
#include "VoiceFrame.h"
#include "common/Json.h"

#include "kestrix/kestrix.h"
#include "lumarel/lumarel.h"

#include <QString>

#include <cstring>
#include <exception>
#include <vector>

namespace {

constexpr unsigned int kTalkPoolSize = 2560000;
constexpr const char *kTalkAbility = "ChannelSystemFunction@SupportIPCTalk";
constexpr int kTalkAbilitySize = 307200;
constexpr int kTalkConfigSize = 229;
constexpr int kTalkConfigCommand = 9;
constexpr int kCannotTalkByte = 128;

bool nonZero(const Json::Value &v)
{
    if (v.isBool())
        return v.asBool();
    if (v.isIntegral())
        return v.asInt64() != 0;
    if (v.isDouble())
        return v.asDouble() != 0;
    return false;
}

} // namespace

CTalk::CTalk() = default;

CTalk::~CTalk()
{
    // No callback may reach a talk that is gone.
    if (m_lVoiceHandle.load() > 0)
        StopTalk();
}

void CTalk::SetDeviceInfo(const DeviceLoginInfo &device)
{
    m_device = device;
}

void CTalk::SetSampleRate16(bool on)
{
    if (on)
        m_nSampleRate = 16000;
}

bool CTalk::TalkDevice()
{
    playerLog("CTalk::TalkDevice", QStringLiteral("TalkDevice"));
    std::vector<unsigned char> config(kTalkConfigSize, 0);
    int length = 0;
    const int r = TRV_NET_GetDevConfig(
        m_device.loginId, kTalkConfigCommand, -1, config.data(), kTalkConfigSize, &length, 15000);
    if (r < 0) {
        playerLog("CTalk::TalkDevice", QStringLiteral("TRV_NET_GetDevConfig=%1").arg(TRV_NET_GetLastError()),
            LightWeightLog::Error);
        return false;
    }
    if (config[kCannotTalkByte] != 0) {
        playerLog("CTalk::TalkDevice", QStringLiteral("could not talk"));
        return false;
    }
    return StartTalkDevice();
}

bool CTalk::StartTalkDevice()
{
    playerLog("CTalk::StartTalkDevice", QStringLiteral("StartTalkDevice"));
    if (m_device.loginId <= 0)
        return false;
    if (!StartTalkPlay(kTalkPort))
        return false;
    return StartLink(TRV_NET_StartVoiceCom_MR(m_device.loginId, &CTalk::VoiceDataCallback, this),
        "CTalk::StartTalkDevice", QStringLiteral("TRV_NET_StartVoiceCom_MR failed m_lError = %1"),
        QStringLiteral("TRV_PLAY_StartAudioCapture failed m_lError = %1"));
}

bool CTalk::StartLink(
    int handle, const char *function, const QString &linkFailed, const QString &captureFailed)
{
    if (handle > 0) {
        m_lVoiceHandle = handle;
        if (TRV_PLAY_StartAudioCapture(
                &CTalk::AudioCaptureCallback, 16, m_nSampleRate, kCaptureBlockBytes, this))
            return true;
        playerLog(function, captureFailed.arg(TRV_NET_GetLastError()), LightWeightLog::Error);
        TRV_NET_StopVoiceCom(handle);
        m_lVoiceHandle = -1;
    } else {
        playerLog(function, linkFailed.arg(TRV_NET_GetLastError()), LightWeightLog::Error);
    }
    // The sound port would otherwise stay open for the next talk and the alarm-voice test.
    CloseTalkPlay(kTalkPort);
    return false;
}

bool CTalk::TalkChannel(int channel)
{
    if (channel < -1 || channel > kMaxChannel)
        return false;
    std::vector<char> answer(kTalkAbilitySize, 0);
    int length = 0;
    const int r = TRV_NET_GetChannelAbility_Json(
        m_device.loginId, kTalkAbility, -1, answer.data(), kTalkAbilitySize, &length, 20000);
    if (r != 1)
        return false;
    answer.back() = 0;
    const std::string text(answer.data());
    playerLog("CTalk::TalkChannel", QString::fromUtf8(text.c_str()));
    bool possible = false;
    try {
        Json::Value root;
        if (!JsonUtil::parse(text, &root) || !root.isObject())
            return false;
        const Json::Value &name = root["Name"];
        if (!name.isString())
            return false;
        const Json::Value &flags = root[name.asString()];
        if (!flags.isArray())
            return false;
        if (channel == -1) {
            for (Json::ArrayIndex i = 0; i < flags.size() && !possible; ++i)
                possible = nonZero(flags[i]);
        } else if (Json::ArrayIndex(channel) < flags.size()) {
            possible = nonZero(flags[Json::ArrayIndex(channel)]);
        }
    } catch (const std::exception &) {
        return false;
    }
    if (!possible)
        return false;
    return StartTalkChannel(channel);
}

bool CTalk::StartTalkChannel(int channel)
{
    if (m_device.loginId <= 0 || channel < -1)
        return false;
    if (!StartTalkPlay(kTalkPort))
        return false;
    return StartLink(
        TRV_NET_StartVoiceCom_NVR_IPC(m_device.loginId, channel, &CTalk::VoiceDataCallback, this),
        "CTalk::StartTalkChannel", QStringLiteral("TRV_NET_StartVoiceCom_NVR_IPC error=%1"),
        QStringLiteral("TRV_PLAY_StartAudioCapture %1"));
}

int CTalk::StartTalkPlay(int port)
{
    const unsigned char head = 0;
    int r = TRV_PLAY_OpenStream(port, &head, 1, kTalkPoolSize);
    if (!r) {
        playerLog("CTalk::StartTalkPlay", QStringLiteral("TRV_PLAY_OpenStream failed m_lError = %1").arg(r),
            LightWeightLog::Error);
        return 0;
    }
    r = TRV_PLAY_Play(port, 0);
    if (!r) {
        playerLog("CTalk::StartTalkPlay", QStringLiteral("TRV_PLAY_Play failed m_lError = %1").arg(r),
            LightWeightLog::Error);
        TRV_PLAY_CloseStream(port);
        return 0;
    }
    r = TRV_PLAY_PlaySoundShare(port);
    if (!r) {
        playerLog("CTalk::StartTalkPlay",
            QStringLiteral("TRV_PLAY_PlaySoundShare failed m_lError = %1").arg(r), LightWeightLog::Error);
        TRV_PLAY_Stop(port);
        TRV_PLAY_CloseStream(port);
        return 0;
    }
    return r;
}

void CTalk::CloseTalkPlay(int port)
{
    TRV_PLAY_Stop(port);
    TRV_PLAY_StopSoundShare(port);
    TRV_PLAY_CloseStream(port);
}

int CTalk::StopTalk()
{
    if (m_device.loginId <= 0)
        return 0;
    // Capture first: once it has stopped no block is sent on the link.
    TRV_PLAY_StopAudioCapture();
    TRV_NET_StopVoiceCom(m_lVoiceHandle.load());
    m_lVoiceHandle = 0;
    CloseTalkPlay(kTalkPort);
    return 1;
}

void CTalk::AudioCaptureCallback(const char *pcm, unsigned int length, void *user)
{
    if (auto *self = static_cast<CTalk *>(user))
        self->SendBlock(pcm, length);
}

void CTalk::SendBlock(const char *pcm, unsigned int length)
{
    if (!m_pFrameBuffer)
        m_pFrameBuffer.reset(new unsigned char[kFrameBufferSize]);
    unsigned char *frame = m_pFrameBuffer.get();
    const int handle = m_lVoiceHandle.load();
    const int rate = m_nSampleRate.load();
    // A block of more samples than one frame holds goes out as several frames.
    EncodeALawPieces(pcm, length, kFrameBufferSize - kVoiceFrameHeadSize, frame + kVoiceFrameHeadSize,
        [&](const unsigned char *, int count) {
            WriteVoiceFrameHead(frame, rate, count);
            TRV_NET_VoiceComSendData(handle, frame, count + kVoiceFrameHeadSize);
            return true;
        });
}

void CTalk::VoiceDataCallback(int voiceHandle, const unsigned char *data, int length, int kind, void *user)
{
    Q_UNUSED(voiceHandle)
    Q_UNUSED(kind)
    if (!user || !data || length <= 0)
        return;
    TRV_PLAY_InputData(kTalkPort, data, unsigned(length));
}
