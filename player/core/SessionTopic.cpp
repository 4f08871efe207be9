// Login to the page's device, a fresh login to the same device, logout and
// the session key, with the device library's disconnect and alarm callbacks.

#include "SessionTopic.h"

#include "DownloadTopic.h"
#include "LightWeightLog.h"
#include "LiveViewTopic.h"
#include "LoginSupport.h"
#include "PlayWidgetFacade.h"
#include "PlaybackTopic.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "TalkTopic.h"
#include "TextField.h"
#include "UpgradeTopic.h"
#include "ViewControlTopic.h"
#include "common/Json.h"
#include "common/Protocol.h"
#include "common/SessionKey.h"

#include <algorithm>
#include <cstring>

namespace {

// What the login request asks for.
struct LoginRequest
{
    int loginType = 0;
    QString title;
    QByteArray ip;
    QByteArray serialNo;
    QByteArray token;
    QByteArray alarmStyle;
    QByteArray user;
    QByteArray password;
    int port = 0;
    int browse = 0;
    QString webType;
    bool sampleRate16 = false;
    int defaultWndNum = -1;
};

// Reads the keys in their order. A key of a type that cannot be converted
// ends the reading: the keys read so far count, the rest keep their defaults.
// Returns false in that case.
bool readLoginRequest(const Json::Value &request, LoginRequest *out)
{
    const Json::Value &device = JsonUtil::member(request, "Device");

    auto text = [](const Json::Value &v, QByteArray *to) {
        std::string s;
        if (!JsonUtil::convertString(v, &s))
            return false;
        *to = QByteArray::fromStdString(s);
        return true;
    };
    auto number = [](const Json::Value &v, int *to) { return JsonUtil::convertInt(v, to); };

    if (!device.isNull() && !device.isObject())
        return false;
    const Json::Value &loginType = JsonUtil::member(device, "LoginType");
    if (loginType.isNumeric()) {
        if (!number(loginType, &out->loginType))
            return false;
    }
    const Json::Value &title = JsonUtil::member(request, "Title");
    if (title.isString())
        out->title = QString::fromStdString(title.asString());

    if (out->loginType == LoginType::Address) {
        if (!text(JsonUtil::member(device, "IP"), &out->ip))
            return false;
    } else if (out->loginType == LoginType::Serial || out->loginType == LoginType::SerialToken) {
        if (out->loginType == LoginType::SerialToken)
            playerLog("CPluginManage::onMainMsgLogin", QStringLiteral("fasjnflk  token"));
        if (!text(JsonUtil::member(device, "SN"), &out->serialNo))
            return false;
        if (out->loginType == LoginType::SerialToken) {
            std::string token;
            if (!JsonUtil::convertString(JsonUtil::member(device, "tcsToken"), &token))
                return false;
            out->token = QString::fromStdString(token).toLatin1();
        }
        const Json::Value &alarmStyle = JsonUtil::member(request, "AlarmStyle");
        if (alarmStyle.isString())
            out->alarmStyle = QByteArray::fromStdString(alarmStyle.asString());
    }
    if (!text(JsonUtil::member(device, "User"), &out->user))
        return false;
    if (!text(JsonUtil::member(device, "Password"), &out->password))
        return false;
    if (!number(JsonUtil::member(device, "Port"), &out->port))
        return false;
    if (!number(JsonUtil::member(request, "Browse"), &out->browse))
        return false;
    const Json::Value &webType = JsonUtil::member(request, "WebType");
    if (webType.isString())
        out->webType = QString::fromStdString(webType.asString());
    const Json::Value &sampleRate = JsonUtil::member(request, "SampleRate_16");
    if (sampleRate.isBool())
        out->sampleRate16 = sampleRate.asBool();
    else if (JsonUtil::isIntLike(sampleRate))
        out->sampleRate16 = sampleRate.asInt() != 0;
    const Json::Value &defaultWndNum = JsonUtil::member(request, "DefaultWndNum");
    if (defaultWndNum.isNumeric() && !number(defaultWndNum, &out->defaultWndNum))
        return false;
    return true;
}

bool rendersInBrowser(int browse)
{
    return browse == BrowserKind::ServerWindow || browse == BrowserKind::RenderHost
        || browse == BrowserKind::RenderHost6 || browse == BrowserKind::RenderHost9;
}

struct AlarmName
{
    const char *name;
    int code;
};

// Searched from the top; the first row with the code names the alarm.
const AlarmName kAlarmNames[] = {
    { "VideoMotion", 4 },
    { "VideoBlind", 6 },
    { "VideoLoss", 5 },
    { "LocalIO", 1 },
    { "NetAlarm", 2 },
    { "CommAlarm", 14 },
    { "NetAbort", 13 },
    { "StorageNotExist", 10 },
    { "StorrageLowSpace", 12 },
    { "StorageFailure", 11 },
    { "ManualAlarm", 3 },
    { "VideoTitle", 7 },
    { "VideoSplit", 8 },
    { "VideoTour", 9 },
    { "NetAbort", 13 },
    { "CommAlarm", 14 },
    { "StorageFailureRead", 15 },
    { "StorageFailureWrite", 16 },
    { "NetIPConflict", 17 },
    { "VideoAnalyze", 25 },
    { "IPCAlarm", 25 },
    { "LoginFailed", 29 },
    { "SerialAlarm", 30 },
    { "PIRAlarm", 31 },
    { "ConsSensorAlarm", 32 },
    { "WordDetect", 33 },
    { "BlurCheck", 34 },
    { "PlateDetect", 35 },
    { "FaceDetectV2", 36 },
    { "433Alarm", 37 },
    { "PIRDetect", 38 },
    { "appEventHumanDetectAlarm", 39 },
    { "FaceDetect", 40 },
    { "FaceRecognition", 41 },
};

const char *alarmName(int code)
{
    for (const AlarmName &row : kAlarmNames) {
        if (row.code == code)
            return row.name;
    }
    return "";
}

const char *alarmState(int state)
{
    switch (state) {
    case TRV_ALARM_START:
        return "Start";
    case TRV_ALARM_STOP:
        return "Stop";
    case TRV_ALARM_PULSE:
        return "Pulse";
    default:
        return "";
    }
}

} // namespace

SessionTopic::SessionTopic(RequestContext &context, const Topics &topics)
    : m_ctx(context)
    , m_topics(topics)
{ }

Answer SessionTopic::onMainMsgLogin(const Request &request)
{
    Json::Value reply(Json::objectValue);
    reply["Msg"] = JsonUtil::member(request, "MainType");
    reply["SubMsg"] = JsonUtil::member(request, "SubType");
    const bool hasMsgId = request.isObject() && request.isMember("MsgID");
    if (hasMsgId)
        reply["MsgID"] = JsonUtil::member(request, "MsgID");
    CQNConnect::GetInstance();

    LoginRequest req;
    if (!readLoginRequest(request, &req))
        playerLog("CPluginManage::onMainMsgLogin", QStringLiteral("something error happened"),
            LightWeightLog::Error);
    // Also when the reading stopped early: an empty title would match any window.
    if (req.title.isEmpty())
        req.title
            = req.loginType <= LoginType::Address ? QStringLiteral("Web Viewer") : QStringLiteral("qelmora");

    quint64 browserWnd = 0;
    quint64 renderWnd = 0;
    int scalePercent = 1;
    const QString browserWndText = m_ctx.browserWnd();
    m_ctx.RunInMainThread([&] {
        if (!browserWndText.isEmpty()) {
            playerLog("CPluginManage::onMainMsgLogin::findBrowser",
                QStringLiteral("WndHandle %1").arg(browserWndText));
            browserWnd = ParseBrowserWndText(browserWndText);
        } else {
            browserWnd = GetBrowserWndID(req.browse, req.title);
        }
        if (browserWnd && rendersInBrowser(req.browse)) {
            if (GridWindowFacade *widget = PlayerWindow::current())
                renderWnd = widget->ErgodicAllChild(browserWnd, req.browse, 0);
        }
        scalePercent = GetScreenScalePercent();
    });

    int ret = Ret::NoBrowserWindow;
    if (browserWnd) {
        m_ctx.setLoginOptions(req.webType, req.sampleRate16);
        if (m_ctx.mainDevice().loginId > 0)
            logoutDev();

        m_ctx.mainDevice() = DeviceLoginInfo();
        DeviceLoginInfo &info = m_ctx.mainDevice();
        info.loginType = req.loginType;
        if (req.loginType == LoginType::Serial || req.loginType == LoginType::SerialToken)
            TextField::copy(info.serialNo, req.serialNo);
        if (req.loginType == LoginType::SerialToken)
            TextField::copyBytes(info.token, sizeof info.token, req.token);
        if (req.loginType == LoginType::Address)
            TextField::copy(info.ip, req.ip);
        TextField::copy(info.user, req.user);
        TextField::copy(info.password, req.password);
        TextField::copy(info.clientKind, req.alarmStyle);
        // A port outside 16 bits names no port: the library's default applies.
        info.port = req.port >= 0 && req.port <= 0xFFFF ? uint16_t(req.port) : 0;
        ret = loginDev();

        if (ret == Ret::Ok) {
            const bool singleChannel = info.deviceType == 0 || info.totalChannels == 1;
            if (info.totalChannels < 1 || info.totalChannels > DeviceLoginInfo::kMaxChannels) {
                logoutDev();
                playerLog("CPluginManage::onMainMsgLogin", QStringLiteral("WebDevInfoAbnorma"));
                ret = Ret::BadChannelCount;
            } else {
                const int channels = info.totalChannels;
                playerLog("CPluginManage::onMainMsgLogin", QStringLiteral("channel num=%1").arg(channels));
                int layout = LayoutIndexFromWndCount(channels);
                m_topics.downloads.setTempFilePath(QString());
                const int loginId = info.loginId;
                const QString title = req.title;
                const QString skin = req.webType;
                const int browse = req.browse;
                const int defaultWndNum = req.defaultWndNum;
                QObject *signalSource = nullptr;
                m_ctx.RunOnWindow([&](LiveWindowFacade *widget) {
                    widget->SetBrowserWnd(browserWnd, renderWnd, title, browse);
                    widget->SetSkin(skin);
                    widget->SetDeviceInfo(loginId, singleChannel);
                    widget->SetPageIndex(PlayerPage::Live);
                    if (defaultWndNum > 0 && defaultWndNum < channels)
                        layout = LayoutIndexFromWndCount(defaultWndNum);
                    widget->ChangeSplit(layout);
                    signalSource = widget->signalSource();
                });
                if (signalSource) {
                    QObject *manage = m_ctx.worker();
                    QObject::connect(signalSource, SIGNAL(curWndIndexSig(int, int)), manage,
                        SLOT(onCurWndIndexChange(int, int)), Qt::UniqueConnection);
                    QObject::connect(signalSource, SIGNAL(changePTZELectPage()), manage,
                        SLOT(onChangePTZELectPage()), Qt::UniqueConnection);
                }
            }
        } else {
            reply["ErrorCode"] = m_nLastError;
            if (ret == Ret::CloudLoginError)
                reply["CloudErrCode"] = TextField::read(info.cloudError).toStdString();
        }
    }

    const bool adjust = renderWnd != 0;
    if (hasMsgId)
        reply["adjustBytool"] = adjust;
    else
        reply["adjustBytool"] = adjust ? 1 : 0;
    reply["Id"] = m_ctx.sessionId();
    reply["DPIRadio"] = scalePercent;
    reply["Ret"] = ret;
    return reply;
}

int SessionTopic::loginDev()
{
    m_nLastError = 0;
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return Ret::Missing;
    if (std::strcmp(m_ctx.mainDevice().clientKind, "Tool") == 0)
        TRV_NET_SetMessageCallBack(&SessionTopic::AlarmMessageCallback, this);
    int resultCode = 0;
    const int loginId = connect->ConnectDevice(m_ctx.mainDevice(), resultCode, m_ctx.webType().toLocal8Bit());
    if (loginId < 1) {
        m_nLastError = loginId;
        return resultCode;
    }
    m_ctx.mainDevice().loginId = loginId;
    playerLog("CPluginManage::loginDev",
        QStringLiteral("loginDev----------devType:%1").arg(m_ctx.mainDevice().deviceType));
    return Ret::Ok;
}

void SessionTopic::logoutDev()
{
    m_topics.talk.stopTalk();
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return;
    DeviceLoginInfo &info = m_ctx.mainDevice();

    playerLog("CPluginManage::logoutDev", QStringLiteral("stop preview begin"));
    m_topics.live.stopAll();
    playerLog("CPluginManage::logoutDev", QStringLiteral("stop preview end"));

    m_topics.playback.closeAll();
    playerLog("CPluginManage::logoutDev", QStringLiteral("PlaybackStop end"));

    m_topics.downloads.closeDownload();

    m_topics.view.stopColorPreview();
    if (info.loginId > 0) {
        connect->DisconnectDevice(info.loginId);
        info.loginId = 0;
    }
    // The device library ends a login's upgrade with it, and no final
    // progress status comes to clear the flag.
    m_topics.upgrades.setUpgrading(false);
}

Answer SessionTopic::onMainMsgLogout(const Request &request)
{
    Q_UNUSED(request)
    // A session that never showed a window gets none made for its logout.
    m_ctx.RunInMainThreadAsync([] {
        if (GridWindowFacade *widget = PlayerWindow::existing())
            widget->onWidgetStatuChange(WidgetStatusSub::Hide, 0, 0, 0, 0);
    });
    playerLog(
        "CPluginManage::onMainMsgLogout", QStringLiteral("logout nSessionID=%1").arg(m_ctx.sessionId()));
    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("killTimer"));
    m_topics.playback.stopProgressTimer();
    m_topics.playback.stopPlaybackEndTimer();

    logoutDev();

    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("release data begin"));
    m_topics.downloads.releaseTempFile();
    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("release data end"));

    m_ctx.RunInMainThread([] {
        if (GridWindowFacade *widget = PlayerWindow::existing())
            widget->releaseInstance();
    });
    return {};
}

void SessionTopic::DisconnectFunction(int loginId, const char *address, int port, void *user)
{
    auto *self = static_cast<SessionTopic *>(user);
    playerLog("CPluginManage::DisconnectFunction",
        QStringLiteral("Device Disconnect IP=%1 LoginID=%2 Port=%3")
            .arg(QString::fromUtf8(address ? address : ""))
            .arg(loginId)
            .arg(port));
    if (!self)
        return;
    Json::Value event = pageEvent(PageEvent::DeviceDisconnected);
    event["Ret"] = Ret::Ok;
    self->m_ctx.sendEvent(event);
}

// MainType 28: log in to the same device again; the open channels are kept
// in the restore lists for the next return to the live page.
Answer SessionTopic::onMainMsgRelogin(const Request &request)
{
    DeviceLoginInfo &info = m_ctx.mainDevice();
    m_topics.live.keepOpenForRestore();
    if (info.loginId > 0)
        logoutDev();
    int ret = loginDev();
    if (ret == Ret::Ok) {
        if (info.totalChannels >= 1 && info.totalChannels <= DeviceLoginInfo::kMaxChannels) {
            const int loginId = info.loginId;
            const bool singleChannel = info.deviceType == 0 || info.totalChannels == 1;
            m_ctx.RunOnWindow(
                [=](LiveWindowFacade *widget) { widget->SetDeviceInfo(loginId, singleChannel); });
        } else {
            logoutDev();
            playerLog("CPluginManage::onMainMsgRelogin", QStringLiteral("WebDevInfoAbnorma"));
            ret = Ret::BadChannelCount;
        }
    }
    Json::Value reply = pageReply(request);
    reply["Ret"] = ret;
    reply["Id"] = m_ctx.sessionId();
    reply["SerialNo"] = TextField::read(info.serialNo).toStdString();
    return reply;
}

void SessionTopic::MakeRandomString(char *buffer)
{
    const QByteArray key = SessionKey::make();
    std::memcpy(buffer, key.constData(), size_t(SessionKey::kLength));
}

Answer SessionTopic::onMainMsgConsultAesKey(const Request &request)
{
    char key[33] = {};
    MakeRandomString(key);
    Json::Value reply = pageReply(request);
    reply["key"]["key"] = key;
    reply["key"]["iv"] = "";
    reply["Ret"] = Ret::Ok;
    // The key reply is logged under its handler's name only.
    playerLog(
        "CPluginManage::onMainMsgConsultAesKey", JsonUtil::writeCompactText(reply), LightWeightLog::Normal);
    Answer answer(reply);
    answer.log = false;
    return answer;
}

int SessionTopic::SetDevRecordEncryptKey(int loginId, int key)
{
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return Ret::Missing;
    const int result = connect->SetDevRecordEncryptKey(loginId, key);
    return result > 0 ? Ret::Ok : result;
}

int SessionTopic::AlarmMessageCallback(
    int loginId, const char *buffer, unsigned int length, void *user, int kind, int reserved)
{
    Q_UNUSED(loginId)
    Q_UNUSED(reserved)
    if (kind != TRV_MSG_ALARM)
        return 1;
    auto *self = static_cast<SessionTopic *>(user);
    // Only the first three fields are read: channel, event code, state.
    int fields[3] = {};
    if (!self || !buffer || length < sizeof fields)
        return 1;
    std::memcpy(fields, buffer, sizeof fields);
    char name[64] = {};
    TextField::copy(name, QByteArray(alarmName(fields[1])));
    Json::Value event = pageEvent(PageEvent::Alarm);
    event["Name"] = "AlarmInfo";
    event["Channel"] = fields[0];
    event["Event"] = name;
    event["Status"] = alarmState(fields[2]);
    self->m_ctx.sendEvent(event);
    return 1;
}
