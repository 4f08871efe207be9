// Login to the page's device and logout, with the device library's disconnect
// callback.

#include "LightWeightLog.h"
#include "LoginSupport.h"
#include "PlayWidgetFacade.h"
#include "PluginManage.h"
#include "QNConnect.h"
#include "TextField.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <QFile>

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

    if (out->loginType == 0) {
        if (!text(JsonUtil::member(device, "IP"), &out->ip))
            return false;
    } else if (out->loginType == 1 || out->loginType == 2) {
        if (out->loginType == 2)
            playerLog("CPluginManage::onMainMsgLogin", QStringLiteral("fasjnflk  token"));
        if (!text(JsonUtil::member(device, "SN"), &out->serialNo))
            return false;
        if (out->loginType == 2) {
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
    return browse == 0 || browse == 2 || browse == 6 || browse == 9;
}

} // namespace

void CPluginManage::onMainMsgLogin(const Request &request)
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
        req.title = req.loginType <= 0 ? QStringLiteral("Web Viewer") : QStringLiteral("qelmora");

    quint64 browserWnd = 0;
    quint64 renderWnd = 0;
    int scalePercent = 1;
    const QString browserWndText = m_strBrowserWnd;
    RunInMainThread([&] {
        if (!browserWndText.isEmpty()) {
            playerLog("CPluginManage::onMainMsgLogin::findBrowser",
                QStringLiteral("WndHandle %1").arg(browserWndText));
            browserWnd = ParseBrowserWndText(browserWndText);
        } else {
            browserWnd = GetBrowserWndID(req.browse, req.title);
        }
        if (browserWnd && rendersInBrowser(req.browse)) {
            if (PlayWidgetFacade *widget = playWidget())
                renderWnd = widget->ErgodicAllChild(browserWnd, req.browse, 0);
        }
        scalePercent = GetScreenScalePercent();
    });

    int ret = Ret::NoBrowserWindow;
    if (browserWnd) {
        m_bSampleRate16 = req.sampleRate16;
        m_strWebType = req.webType;
        if (m_mainDevice.loginId > 0)
            logoutDev();

        m_mainDevice = DeviceLoginInfo();
        DeviceLoginInfo &info = m_mainDevice;
        info.loginType = req.loginType;
        if (req.loginType == 1 || req.loginType == 2)
            TextField::copy(info.serialNo, req.serialNo);
        if (req.loginType == 2)
            TextField::copyBytes(info.token, sizeof info.token, req.token);
        if (req.loginType == 0)
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
                m_strTempFilePath.clear();
                const int loginId = info.loginId;
                const QString title = req.title;
                const QString skin = req.webType;
                const int browse = req.browse;
                const int defaultWndNum = req.defaultWndNum;
                QObject *signalSource = nullptr;
                RunOnWindow([&](PlayWidgetFacade *widget) {
                    widget->SetBrowserWnd(browserWnd, renderWnd, title, browse);
                    widget->SetSkin(skin);
                    widget->SetDeviceInfo(loginId, singleChannel);
                    widget->SetPageIndex(0);
                    if (defaultWndNum > 0 && defaultWndNum < channels)
                        layout = LayoutIndexFromWndCount(defaultWndNum);
                    widget->ChangeSplit(layout);
                    signalSource = widget->signalSource();
                });
                if (signalSource) {
                    connect(signalSource, SIGNAL(curWndIndexSig(int, int)), this,
                        SLOT(onCurWndIndexChange(int, int)), Qt::UniqueConnection);
                    connect(signalSource, SIGNAL(changePTZELectPage()), this, SLOT(onChangePTZELectPage()),
                        Qt::UniqueConnection);
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
    reply["Id"] = m_nSessionId;
    reply["DPIRadio"] = scalePercent;
    reply["Ret"] = ret;
    sendReply(reply);
}

int CPluginManage::loginDev()
{
    m_nLastError = 0;
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return Ret::Missing;
    if (std::strcmp(m_mainDevice.clientKind, "Tool") == 0)
        TRV_NET_SetMessageCallBack(&CPluginManage::AlarmMessageCallback, this);
    int resultCode = 0;
    const int loginId = connect->ConnectDevice(m_mainDevice, resultCode, m_strWebType.toLocal8Bit());
    if (loginId < 1) {
        m_nLastError = loginId;
        return resultCode;
    }
    m_mainDevice.loginId = loginId;
    playerLog("CPluginManage::loginDev",
        QStringLiteral("loginDev----------devType:%1").arg(m_mainDevice.deviceType));
    return Ret::Ok;
}

void CPluginManage::logoutDev()
{
    stopTalk();
    CQNConnect *connect = CQNConnect::GetInstance();
    if (!connect)
        return;
    DeviceLoginInfo &info = m_mainDevice;

    playerLog("CPluginManage::logoutDev", QStringLiteral("stop preview begin"));
    // The handle table has one entry per possible channel, whatever count the
    // device reported.
    const int channels = std::min<int>(std::max(info.totalChannels, 0), DeviceLoginInfo::kMaxChannels);
    for (int channel = 0; channel < channels; ++channel) {
        if (info.realHandles[channel] <= 0)
            continue;
        connect->DisconnectChannel_V2(info.realHandles[channel], &CPluginManage::PreviewDataCallback,
            reinterpret_cast<void *>(quintptr(channel)));
        RunOnWindow([channel](PlayWidgetFacade *widget) { widget->PreviewStop(channel); });
        info.realHandles[channel] = 0;
    }
    playerLog("CPluginManage::logoutDev", QStringLiteral("stop preview end"));

    for (int wnd = 0; wnd < 4; ++wnd) {
        if (m_lPlayHandle[wnd] > 0)
            closePlaybackWindow(wnd);
    }
    playerLog("CPluginManage::logoutDev", QStringLiteral("PlaybackStop end"));

    if (m_lDownloadHandle) {
        connect->CloseHandle(m_lDownloadHandle);
        m_lDownloadHandle = 0;
    }

    stopColorPreview();
    if (info.loginId > 0) {
        connect->DisconnectDevice(info.loginId);
        info.loginId = 0;
    }
}

void CPluginManage::onMainMsgLogout(const Request &request)
{
    Q_UNUSED(request)
    // A session that never showed a window gets none made for its logout.
    RunInMainThreadAsync([] {
        if (PlayWidgetFacade *widget = existingPlayWidget())
            widget->onWidgetStatuChange(1, 0, 0, 0, 0);
    });
    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("logout nSessionID=%1").arg(m_nSessionId));
    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("killTimer"));
    stopProgressTimer();
    stopPlaybackEndTimer();

    logoutDev();

    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("release data begin"));
    if (!m_strTempFilePath.isEmpty() && QFile::exists(m_strTempFilePath))
        QFile::remove(m_strTempFilePath);
    m_strTempFilePath.clear();
    playerLog("CPluginManage::onMainMsgLogout", QStringLiteral("release data end"));

    RunInMainThread([] {
        if (PlayWidgetFacade *widget = existingPlayWidget())
            widget->releaseInstance();
    });
}

void CPluginManage::DisconnectFunction(int loginId, const char *address, int port, void *user)
{
    auto *self = static_cast<CPluginManage *>(user);
    playerLog("CPluginManage::DisconnectFunction",
        QStringLiteral("Device Disconnect IP=%1 LoginID=%2 Port=%3")
            .arg(QString::fromUtf8(address ? address : ""))
            .arg(loginId)
            .arg(port));
    if (!self)
        return;
    Json::Value event = pageEvent(PageEvent::DeviceDisconnected);
    event["Ret"] = Ret::Ok;
    self->sendWebSocketMsg(JsonUtil::writeCompactText(event));
}
