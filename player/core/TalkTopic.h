#pragma once

#include "RequestContext.h"
#include "TalkControl.h"

#include <map>
#include <memory>

// Talk and the custom alarm voice: voice talk (MainType 16), recording,
// testing and sending the alarm voice (MainType 20), and sending a chosen
// or the recorded sound file to the device (MainType 30). Worker thread,
// except the device library's callbacks.
class TalkTopic
{
public:
    explicit TalkTopic(RequestContext &context);

    // What makes the voice talks (the window side's CTalk); none: talks fail.
    static void setTalkFactory(TalkControl::Factory factory);

    Answer onMainMsgTalk(const Request &request);
    Answer onMainMsgVoiceCustom(const Request &request);
    Answer onMainMsgCustomVoiceFile(const Request &request);

    // Ends the running talk, if any; true when one ran.
    bool stopTalk();
    bool talkRunning() const { return m_pTalk != nullptr; }
    // Sends the recorded alarm voice to the main device: 0 sent, -2 no file,
    // -3 an empty file, -4 the device refused it. Channel 255 means -1.
    int UploadCustomAlarmVoice(int channel, int filePurpose);
    // The custom voice file request that the result of the transfer
    // `transferHandle` answers. Worker thread.
    void keepVoiceFileRequest(int transferHandle, int subType, int msgId);

    // The device's answer to an uploaded alarm voice; `user` is the topic.
    static void VoiceFileSendCallback(int transferHandle, int state, int code, void *user);
    // The device's answer to a custom voice file sent to it; `user` is the topic.
    static void SDKResultCallback(int transferHandle, int state, int code, void *user);

private:
    void onVoiceFileChosen(const Request &request, bool chosen, const QString &path);
    void onVoiceFileSent(int state, int code);
    void sendVoiceFileResult(int transferHandle, int result);

    struct VoiceFileRequest
    {
        int subType = 0;
        int msgId = 0;
    };

    RequestContext &m_ctx;
    std::unique_ptr<TalkControl> m_pTalk;
    // The request each running transfer answers, by its handle: sends follow
    // one another before any of them ends. Worker thread only.
    std::map<int, VoiceFileRequest> m_voiceFileRequests;
};
