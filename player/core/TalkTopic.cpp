// Talk and custom alarm voice requests: voice talk (MainType 16), recording,
// testing and sending the alarm voice (MainType 20), and sending a chosen or
// the recorded sound file to the device (MainType 30).

#include "TalkTopic.h"

#include "LightWeightLog.h"
#include "QNConnect.h"
#include "VoiceCustom.h"
#include "common/Json.h"

#include <QFileInfo>

#include <vector>

namespace {

constexpr const char *kTalkAbility = "ChannelSystemFunction@SupportIPCTalk";
constexpr int kTalkAbilitySize = 102400;

TalkControl::Factory &talkFactory()
{
    static TalkControl::Factory factory;
    return factory;
}

// The page's channel 255 means "no particular channel".
int pageChannel(int channel)
{
    return channel == 255 ? -1 : channel;
}

// The "MsgID" a custom voice file's late answer carries: the request's, as an int.
int voiceFileMsgId(const Json::Value &request)
{
    const Json::Value &msgId = JsonUtil::member(request, "MsgID");
    return msgId.isConvertibleTo(Json::intValue) ? msgId.asInt() : 0;
}

} // namespace

TalkTopic::TalkTopic(RequestContext &context)
    : m_ctx(context)
{ }

void TalkTopic::setTalkFactory(TalkControl::Factory factory)
{
    talkFactory() = std::move(factory);
}

bool TalkTopic::stopTalk()
{
    if (!m_pTalk)
        return false;
    m_pTalk->StopTalk();
    m_pTalk.reset();
    return true;
}

// MainType 16: talk with a channel (0) or the device (1), stop (2), or ask
// which channels can talk (3).
Answer TalkTopic::onMainMsgTalk(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    Json::Value reply = pageReply(request);
    if (subType == TalkSub::Stop) {
        playerLog("CPluginManage::onMainMsgTalk", QStringLiteral("StopTalk"));
        int ret = Ret::Ok;
        if (m_pTalk) {
            ret = m_pTalk->StopTalk();
            m_pTalk.reset();
        }
        reply["Ret"] = ret;
        return reply;
    }
    if (subType == TalkSub::Ability) {
        std::vector<char> answer(kTalkAbilitySize, 0);
        int ret = Ret::Missing;
        if (CQNConnect *connect = CQNConnect::GetInstance())
            ret = connect->GetChannelAbility(
                m_ctx.mainDevice().loginId, kTalkAbility, answer.data(), kTalkAbilitySize);
        answer.back() = 0;
        Json::Value data;
        if (ret == Ret::Ok && JsonUtil::parse(std::string(answer.data()), &data))
            reply["Data"] = data;
        reply["Ret"] = ret;
        return reply;
    }
    const int channel = subType == TalkSub::Channel ? pageChannel(JsonUtil::intKey(request, "Channel")) : 0;
    stopTalk();
    std::unique_ptr<TalkControl> talk = talkFactory() ? talkFactory()() : nullptr;
    bool started = false;
    if (talk) {
        talk->SetSampleRate16(m_ctx.sampleRate16());
        talk->SetDeviceInfo(m_ctx.mainDevice());
        if (subType == TalkSub::Channel)
            started = talk->TalkChannel(channel);
        else if (subType == TalkSub::Device)
            started = talk->TalkDevice();
    }
    if (started)
        m_pTalk = std::move(talk);
    const int ret = started ? Ret::Ok : Ret::Failed;
    playerLog(
        "CPluginManage::onMainMsgTalk", QStringLiteral("StartTalk nSubMsg=%1 Ret=%2").arg(subType).arg(ret));
    reply["Ret"] = ret;
    return reply;
}

// MainType 20: record (0), stop recording (1), test (2), send (3) and stop
// the test (4) of the custom alarm voice.
Answer TalkTopic::onMainMsgVoiceCustom(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    VoiceCustom *voice = VoiceCustom::GetInstance();
    int result = -1;
    switch (subType) {
    case VoiceCustomSub::Record:
        voice->SetSampleRate16K(m_ctx.sampleRate16());
        result = voice->StartRecordVoice();
        break;
    case VoiceCustomSub::StopRecord:
        result = voice->StopRecordVoice();
        break;
    case VoiceCustomSub::Test:
        // The test plays on the talk's sound port: not while a talk runs.
        if (m_pTalk) {
            result = -5;
            break;
        }
        voice->SetSampleRate16K(m_ctx.sampleRate16());
        result = voice->StartTest();
        break;
    case VoiceCustomSub::Send:
        result = UploadCustomAlarmVoice(
            JsonUtil::intKey(request, "Channel"), JsonUtil::intKey(request, "FilePurpose"));
        break;
    case VoiceCustomSub::StopTest:
        result = voice->StopTest();
        break;
    default:
        break;
    }
    playerLog(
        "CPluginManage::onMainMsgVoiceCustom", QStringLiteral("SubMsg:%1 nRet=%2").arg(subType).arg(result));
    Json::Value reply = pageReply(request);
    reply["Ret"] = result == 0 ? Ret::Ok : Ret::Failed;
    return reply;
}

int TalkTopic::UploadCustomAlarmVoice(int channel, int filePurpose)
{
    channel = pageChannel(channel);
    const QString path = VoiceCustom::GetInstance()->filePath();
    // Only the size is wanted: the file is neither created nor changed here.
    const QFileInfo info(path);
    if (!info.isFile() || !QFile(path).open(QIODevice::ReadOnly))
        return -2;
    const qint64 size = info.size();
    if (size == 0)
        return -3;
    QString body;
    if (m_ctx.mainDevice().deviceType == 2) {
        body = QStringLiteral("{\"FileType\": 1,\"FilePurpose\": 0,\"FileSize\": %1,\"FileName\": "
                              "\"customAlarmVoice.pcm\",\"Parameter\": {\"AudioFormat\": {\"BitRate\": 128,"
                              "\"SampleRate\": 8000,\"SampleBit\": 8,\"EncodeType\": \"G711_ALAW\"}}}")
                   .arg(size);
    } else {
        body = QStringLiteral("{\"Action\": \"Send\",\"FileType\": 1,\"Channel\": [%1],\"FilePurpose\": %4,"
                              "\"FileSize\": %2,\"FileName\": \"customAlarmVoice.pcm\",\"Parameter\":  "
                              "{\"AudioFormat\": {\"BitRate\": 128,\"SampleRate\": 8000,\"SampleBit\": 8,"
                              "\"EncodeType\": \"G711_ALAW\"},\"Channel\": [%3]}}")
                   .arg(channel)
                   .arg(size)
                   .arg(channel)
                   .arg(filePurpose);
    }
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return -4;
    const int r = connect->SendAudioFile(m_ctx.mainDevice().loginId, path.left(1023),
        body.toLocal8Bit().left(2047), this, &TalkTopic::VoiceFileSendCallback);
    return r < 0 ? -4 : 0;
}

void TalkTopic::VoiceFileSendCallback(int transferHandle, int state, int code, void *user)
{
    TRV_NET_StopSendFile(transferHandle, 1);
    auto *self = static_cast<TalkTopic *>(user);
    if (!self)
        return;
    self->m_ctx.RunInWorkerThread([self, state, code] { self->onVoiceFileSent(state, code); });
}

void TalkTopic::onVoiceFileSent(int state, int code)
{
    const bool done = state == TRV_TRANSFER_DONE;
    // Only a transfer the device confirmed makes the recording expendable;
    // it is gone by the time the page hears so.
    if (done)
        QFile::remove(VoiceCustom::GetInstance()->filePath());
    Json::Value event = pageEvent(PageEvent::VoiceFileSent);
    event["Ret"] = done ? Ret::Ok : code;
    m_ctx.sendEvent(event);
}

// MainType 30: a sound file chosen by the user (0, 1) or the recorded alarm
// voice (2, 3, 4) goes to the device; the device's answer comes later.
Answer TalkTopic::onMainMsgCustomVoiceFile(const Request &request)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    if (subType < CustomVoiceFileSub::Choose || subType > CustomVoiceFileSub::RecordedLast)
        return {};
    if (subType <= CustomVoiceFileSub::ChooseQuiet) {
        const Request kept = request;
        m_ctx.chooseWithBrowser({ QStringLiteral("5"), QStringLiteral("1") },
            [this, kept](bool chosen, const QString &path) { onVoiceFileChosen(kept, chosen, path); });
        return {};
    }
    CQNConnect *connect = CQNConnect::GetInstance();
    int transfer = 0;
    const int result = connect
        ? connect->ImportFile(subType, m_ctx.mainDevice().loginId, JsonUtil::intKey(request, "Channel"),
            VoiceCustom::GetInstance()->filePath(), &TalkTopic::SDKResultCallback, this, &transfer)
        : Ret::Missing;
    if (result == Ret::Ok) {
        // The late answer names this request.
        keepVoiceFileRequest(transfer, subType, voiceFileMsgId(request));
        return {};
    }
    Json::Value reply = pageReply(request);
    reply["nRet"] = result;
    return reply;
}

void TalkTopic::onVoiceFileChosen(const Request &request, bool chosen, const QString &path)
{
    const int subType = JsonUtil::intKey(request, "SubType");
    // Nothing chosen (cancelled, or no chooser): the page still gets its answer.
    int result = Ret::Failed;
    int transfer = 0;
    if (chosen) {
        CQNConnect *connect = CQNConnect::GetInstance();
        result = connect
            ? connect->ImportFile(subType, m_ctx.mainDevice().loginId, JsonUtil::intKey(request, "Channel"),
                path, &TalkTopic::SDKResultCallback, this, &transfer)
            : Ret::Missing;
    }
    if (transfer > 0)
        keepVoiceFileRequest(transfer, subType, voiceFileMsgId(request));
    if (subType == CustomVoiceFileSub::ChooseQuiet && result == Ret::Ok)
        return;
    Json::Value reply = pageReply(request);
    reply["nRet"] = result;
    m_ctx.sendReply(reply);
}

void TalkTopic::keepVoiceFileRequest(int transferHandle, int subType, int msgId)
{
    m_voiceFileRequests[transferHandle] = { subType, msgId };
}

void TalkTopic::SDKResultCallback(int transferHandle, int state, int code, void *user)
{
    auto *self = static_cast<TalkTopic *>(user);
    if (!self)
        return;
    const int result = state == TRV_TRANSFER_DONE ? int(Ret::Ok) : code;
    // The kept requests are the worker's, which keeps a transfer's request
    // before anything handed to it from here runs.
    self->m_ctx.RunInWorkerThread(
        [self, transferHandle, result] { self->sendVoiceFileResult(transferHandle, result); });
}

void TalkTopic::sendVoiceFileResult(int transferHandle, int result)
{
    const auto kept = m_voiceFileRequests.find(transferHandle);
    if (kept == m_voiceFileRequests.end()) {
        playerLog("CPluginManage::SDKResultCallback",
            QStringLiteral("no request for transfer %1, result %2").arg(transferHandle).arg(result),
            LightWeightLog::Warning);
        return;
    }
    Json::Value reply(Json::objectValue);
    reply["Msg"] = MainType::CustomVoiceFile;
    reply["SubMsg"] = kept->second.subType;
    reply["MsgID"] = kept->second.msgId;
    reply["nRet"] = result;
    m_voiceFileRequests.erase(kept);
    m_ctx.sendReply(reply);
}
