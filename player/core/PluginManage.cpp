#include "PluginManage.h"

#include "DownloadTopic.h"
#include "GetSystemStatus.h"
#include "LightWeightLog.h"
#include "LiveViewTopic.h"
#include "MainThreadObject.h"
#include "PlaybackTopic.h"
#include "QNConnect.h"
#include "SessionTopic.h"
#include "SettingsTopic.h"
#include "TalkTopic.h"
#include "UpgradeTopic.h"
#include "ViewControlTopic.h"
#include "VoiceCustom.h"
#include "common/Json.h"

#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <exception>

namespace {

std::atomic<CPluginManage *> g_manage { nullptr };

} // namespace

CPluginManage::CPluginManage(const QString &browserWnd, int sessionId, QObject *parent)
    : QObject(parent)
    , m_context(std::make_unique<RequestContext>(*this, browserWnd, sessionId))
{
    g_manage = this;

    m_pSystemStatus = new CGetSystemStatus(this);
    RequestContext &ctx = *m_context;
    m_live = std::make_unique<LiveViewTopic>(ctx, *m_pSystemStatus);
    m_downloads = std::make_unique<DownloadTopic>(ctx);
    m_playback = new PlaybackTopic(ctx, *m_downloads, this);
    m_view = std::make_unique<ViewControlTopic>(ctx, *m_live, *m_playback);
    m_settings = std::make_unique<SettingsTopic>(ctx);
    m_talk = std::make_unique<TalkTopic>(ctx);
    m_upgrades = std::make_unique<UpgradeTopic>(ctx);
    m_session = std::make_unique<SessionTopic>(
        ctx, SessionTopic::Topics { *m_live, *m_playback, *m_downloads, *m_view, *m_talk, *m_upgrades });

    connect(
        m_pSystemStatus, &CGetSystemStatus::sendSystemStatusSig, this, &CPluginManage::onSendSystemStatus);
    connect(VoiceCustom::GetInstance(), &VoiceCustom::VoiceRecordTime, this,
        [this](const QString &event) { sendWebSocketMsg(event); });

    connect(this, &CPluginManage::returnToMainThreadSyncSig, MainThreadObject::instance(),
        &MainThreadObject::onReturnToMainThread, Qt::BlockingQueuedConnection);
    connect(this, &CPluginManage::returnToMainThreadAsyncSig, MainThreadObject::instance(),
        &MainThreadObject::onReturnToMainThread, Qt::QueuedConnection);
    connect(this, &CPluginManage::returnToThisThreadSig, this, [](std::function<void(void)> task) {
        if (task)
            task();
    });

    CQNConnect::GetInstance()->InitKestrix(&SessionTopic::DisconnectFunction, m_session.get());

    m_thread = new QThread(this);
    moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);
}

CPluginManage::~CPluginManage()
{
    stopWorker();
    CPluginManage *self = this;
    g_manage.compare_exchange_strong(self, nullptr);
}

CPluginManage *CPluginManage::instance()
{
    return g_manage.load();
}

void CPluginManage::stopWorker()
{
    if (!m_thread || !m_thread->isRunning() || QThread::currentThread() == m_thread)
        return;
    // The last task on the worker stops its timers and hands the object back
    // to the calling thread, so that it can be deleted there.
    QThread *home = QThread::currentThread();
    auto finish = [this, home] {
        m_playback->stopProgressTimer();
        m_playback->stopPlaybackEndTimer();
        m_pSystemStatus->stopTimer();
        moveToThread(home);
        m_thread->quit();
    };
    if (RequestContext::isGuiThread()) {
        // The worker may be waiting for a task on this thread: keep serving
        // those until it has finished.
        QEventLoop loop;
        connect(m_thread, &QThread::finished, &loop, &QEventLoop::quit);
        QMetaObject::invokeMethod(this, finish, Qt::QueuedConnection);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    } else {
        QMetaObject::invokeMethod(this, finish, Qt::BlockingQueuedConnection);
    }
    m_thread->wait();
}

void CPluginManage::sendWebSocketMsg(const QString &msg, bool log)
{
    if (log)
        playerLog("CPluginManage::sendWebSocketMsg", msg);
    // The message goes out whole: a cut JSON text is useless to the page.
    const int nul = msg.indexOf(QChar(0));
    emit sendWebSocketMsgSig(nul < 0 ? msg : msg.left(nul));
}

Answer CPluginManage::route(int mainType, const Request &request)
{
    // One topic per request kind; kinds without one get the default reply.
    switch (mainType) {
    case MainType::SwitchMode:
        return m_view->onMainMsgSwitchMode(request);
    case MainType::ChangeSplit:
        return m_view->onMainMsgChangeSplit(request);
    case MainType::Preview:
        return m_live->onMainMsgPreview(request);
    case MainType::Playback:
        return m_playback->onMainMsgPlayback(request);
    case MainType::ColorPreview:
        return m_view->onMainMsgColorPreview(request);
    case MainType::Login:
        return m_session->onMainMsgLogin(request);
    case MainType::Logout:
        return m_session->onMainMsgLogout(request);
    case MainType::SetCurWnd:
        return m_view->onMainMsgSetCurWnd(request);
    case MainType::WidgetStatus:
        return m_view->onMainMsgWidgetStatus(request);
    case MainType::AlarmType:
        return m_settings->onMainMsgAlarmType(request);
    case MainType::GetAlarmType:
        return m_settings->onMainMsgGetAlarmType(request);
    case MainType::Talk:
        return m_talk->onMainMsgTalk(request);
    case MainType::ClientConfig:
        return m_settings->onMainMsgClientConfig(request);
    case MainType::Capture:
        return m_view->onMainMsgCapture(request);
    case MainType::VoiceCustom:
        return m_talk->onMainMsgVoiceCustom(request);
    case MainType::OnlineUpgrade:
        return m_upgrades->onMainMsgOnlineUpgrade(request);
    case MainType::CheckToolVersion:
        return m_upgrades->onMainMsgCheckToolVersion(request);
    case MainType::PTZControl:
        return m_view->onMainMsgPTZControl(request);
    case MainType::LocalUpgrade:
        return m_upgrades->onMainMsgLocalUpgrade(request);
    case MainType::Relogin:
        return m_session->onMainMsgRelogin(request);
    case MainType::ScaleSwitch:
        return m_view->onMainMsgScaleSwitch(request);
    case MainType::CustomVoiceFile:
        return m_talk->onMainMsgCustomVoiceFile(request);
    case MainType::ConsultAesKey:
        return m_session->onMainMsgConsultAesKey(request);
    case MainType::RegionInfo:
        return m_view->onMainMsgRegionInfo(request);
    default: {
        Json::Value reply = pageReply(request);
        reply["Ret"] = Ret::Missing;
        return reply;
    }
    }
}

void CPluginManage::onRecvWebsocketMsg(QString msg)
{
    playerLog("CPluginManage::onRecvWebsocketMsg", QStringLiteral("RecvWeb msg=%1").arg(msg));

    QByteArray utf8 = msg.toUtf8();
    if (utf8.size() > kMaxRequestBytes)
        utf8.truncate(kMaxRequestBytes);
    const int nul = utf8.indexOf('\0');
    if (nul >= 0)
        utf8.truncate(nul);

    Json::Value root;
    if (!JsonUtil::parse(utf8.toStdString(), &root))
        return;
    try {
        dispatch(root);
    } catch (const std::exception &) {
        playerLog("CPluginManage::onRecvWebsocketMsg", QStringLiteral("can not analyze json"),
            LightWeightLog::Error);
    } catch (...) {
        playerLog("CPluginManage::onRecvWebsocketMsg", QStringLiteral("can not analyze json"),
            LightWeightLog::Error);
    }
}

void CPluginManage::dispatch(const Request &request)
{
    // A null text reads as an empty request (MainType 0); any other value that
    // is not an object, or a MainType that is no integer, cannot be analysed.
    if (!request.isObject() && !request.isNull()) {
        playerLog("CPluginManage::onRecvWebsocketMsg", QStringLiteral("can not analyze json"),
            LightWeightLog::Error);
        return;
    }
    const Json::Value &mainTypeValue = JsonUtil::member(request, "MainType");
    if (!mainTypeValue.isConvertibleTo(Json::intValue)) {
        playerLog("CPluginManage::onRecvWebsocketMsg", QStringLiteral("can not analyze json"),
            LightWeightLog::Error);
        return;
    }
    const int mainType = mainTypeValue.asInt();
    if (mainType == MainType::None)
        return;
    const Answer answer = route(mainType, request);
    if (answer.reply)
        m_context->sendReply(*answer.reply, answer.log);
}

void CPluginManage::onDisconnect()
{
    playerLog("CPluginManage::onDisconnect", QStringLiteral("link to the service closed"));
    m_session->onMainMsgLogout(Json::Value());
}

void CPluginManage::onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    if (m_context->mainDevice().loginId <= 0 || nAppCpuStatus < 0 || nSystemCpuStatus < 0)
        return;
    Json::Value event = pageEvent(PageEvent::SystemStatus);
    event["AppCpu"] = nAppCpuStatus;
    event["SystemCpu"] = nSystemCpuStatus;
    event["AppMemory"] = nAppMemory;
    m_context->sendEvent(event, false);
}

void CPluginManage::onChangePTZELectPage()
{
    m_live->onChangePTZELectPage();
}

void CPluginManage::onCurWndIndexChange(int nPageId, int nWndIndex)
{
    if (nPageId == PlayerPage::Live)
        m_live->onCurWndIndexChange(nWndIndex);
    else if (nPageId == PlayerPage::Playback)
        m_playback->onCurWndIndexChange(nWndIndex);
}
