#pragma once

#include "DeviceLoginInfo.h"
#include "TalkControl.h"

#include <QString>

#include <atomic>
#include <memory>

// Two-way voice talk with a logged-in device or one of its camera channels:
// microphone blocks are encoded as G.711 A-law and sent as voice frames over
// the device library's voice link; what the device sends back plays on the
// talk sound port. Start and stop run on the request manager's worker thread,
// the capture callback on the play library's capture thread and the receive
// callback on a device-library thread.
class CTalk : public TalkControl
{
public:
    static constexpr int kTalkPort = 499;
    static constexpr int kFrameBufferSize = 4096;
    static constexpr int kCaptureBlockBytes = 640;
    static constexpr int kMaxChannel = 119;

    CTalk();
    ~CTalk() override;

    void SetDeviceInfo(const DeviceLoginInfo &device) override;
    void SetSampleRate16(bool on) override;
    bool TalkDevice() override;
    bool TalkChannel(int channel) override;
    int StopTalk() override;

    int voiceHandle() const { return m_lVoiceHandle.load(); }
    int sampleRate() const { return m_nSampleRate.load(); }

    // Library callbacks; `user` is the talk.
    static void AudioCaptureCallback(const char *pcm, unsigned int length, void *user);
    static void VoiceDataCallback(
        int voiceHandle, const unsigned char *data, int length, int kind, void *user);

private:
    bool StartTalkDevice();
    bool StartTalkChannel(int channel);
    // Starts the microphone on a newly opened voice link (`handle`, <= 0 when
    // it failed to open); any failure closes the link and the sound port.
    bool StartLink(int handle, const char *function, const QString &linkFailed, const QString &captureFailed);
    // Opens the sound port: nonzero on success; a failure leaves it closed.
    int StartTalkPlay(int port);
    // Stops, silences and closes the sound port.
    static void CloseTalkPlay(int port);
    void SendBlock(const char *pcm, unsigned int length);

    std::unique_ptr<unsigned char[]> m_pFrameBuffer; // capture thread only
    std::atomic<int> m_lVoiceHandle { -1 };
    DeviceLoginInfo m_device;
    std::atomic<int> m_nSampleRate { 8000 };
};
