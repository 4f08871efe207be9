#include "PluginManage.h"

#include "GetSystemStatus.h"
#include "LightWeightLog.h"
#include "MainThreadObject.h"
#include "PlayWidgetFacade.h"
#include "QNConnect.h"
#include "VoiceCustom.h"
#include "common/Json.h"

#include <QEventLoop>
#include <QThread>
#include <QTimerEvent>

#include <atomic>
#include <exception>

namespace {

std::atomic<CPluginManage *> g_manage { nullptr };
std::atomic<Qt::HANDLE> g_guiThreadId { nullptr };
CPluginManage::PlayWidgetProvider g_playWidgetProvider;
CPluginManage::PlayWidgetProvider g_existingPlayWidgetProvider;
CPluginManage::StreamInputProvider g_streamInputProvider;

} // namespace

CPluginManage::CPluginManage(const QString &browserWnd, int sessionId, QObject *parent)
    : QObject(parent)
    , m_strBrowserWnd(browserWnd)
    , m_nSessionId(sessionId)
{
    g_manage = this;
    g_guiThreadId = QThread::currentThreadId();

    m_pSystemStatus = new CGetSystemStatus(this);
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

    CQNConnect::GetInstance()->InitKestrix(&CPluginManage::DisconnectFunction, this);

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

bool CPluginManage::isGuiThread()
{
    return QThread::currentThreadId() == g_guiThreadId.load();
}

void CPluginManage::setPlayWidgetProvider(PlayWidgetProvider provider)
{
    g_playWidgetProvider = std::move(provider);
}

PlayWidgetFacade *CPluginManage::playWidget()
{
    return g_playWidgetProvider ? g_playWidgetProvider() : nullptr;
}

void CPluginManage::setExistingPlayWidgetProvider(PlayWidgetProvider provider)
{
    g_existingPlayWidgetProvider = std::move(provider);
}

PlayWidgetFacade *CPluginManage::existingPlayWidget()
{
    return g_existingPlayWidgetProvider ? g_existingPlayWidgetProvider() : playWidget();
}

void CPluginManage::setStreamInputProvider(StreamInputProvider provider)
{
    g_streamInputProvider = std::move(provider);
}

StreamInput *CPluginManage::streamInput()
{
    if (g_streamInputProvider)
        return g_streamInputProvider();
    return playWidget();
}

void CPluginManage::RunInMainThread(std::function<void(void)> task)
{
    if (isGuiThread()) {
        task();
        return;
    }
    emit returnToMainThreadSyncSig(std::move(task));
}

void CPluginManage::RunOnWindow(const std::function<void(PlayWidgetFacade *widget)> &task)
{
    RunInMainThread([&task] {
        if (PlayWidgetFacade *widget = playWidget())
            task(widget);
    });
}

void CPluginManage::RunInMainThreadAsync(std::function<void(void)> task)
{
    emit returnToMainThreadAsyncSig(std::move(task));
}

void CPluginManage::RunInWorkerThread(std::function<void(void)> task)
{
    emit returnToThisThreadSig(std::move(task));
}

void CPluginManage::stopWorker()
{
    if (!m_thread || !m_thread->isRunning() || QThread::currentThread() == m_thread)
        return;
    // The last task on the worker stops its timers and hands the object back
    // to the calling thread, so that it can be deleted there.
    QThread *home = QThread::currentThread();
    auto finish = [this, home] {
        stopProgressTimer();
        stopPlaybackEndTimer();
        m_pSystemStatus->stopTimer();
        moveToThread(home);
        m_thread->quit();
    };
    if (isGuiThread()) {
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

void CPluginManage::sendReply(const Json::Value &reply)
{
    sendWebSocketMsg(JsonUtil::writeCompactText(reply));
}

CPluginManage::Handler CPluginManage::handlerFor(int mainType)
{
    // One handler per request kind; kinds without one get the default reply.
    switch (mainType) {
    case MainType::SwitchMode:
        return &CPluginManage::onMainMsgSwitchMode;
    case MainType::ChangeSplit:
        return &CPluginManage::onMainMsgChangeSplit;
    case MainType::Preview:
        return &CPluginManage::onMainMsgPreview;
    case MainType::Playback:
        return &CPluginManage::onMainMsgPlayback;
    case MainType::ColorPreview:
        return &CPluginManage::onMainMsgColorPreview;
    case MainType::Login:
        return &CPluginManage::onMainMsgLogin;
    case MainType::Logout:
        return &CPluginManage::onMainMsgLogout;
    case MainType::SetCurWnd:
        return &CPluginManage::onMainMsgSetCurWnd;
    case MainType::WidgetStatus:
        return &CPluginManage::onMainMsgWidgetStatus;
    case MainType::AlarmType:
        return &CPluginManage::onMainMsgAlarmType;
    case MainType::GetAlarmType:
        return &CPluginManage::onMainMsgGetAlarmType;
    case MainType::Talk:
        return &CPluginManage::onMainMsgTalk;
    case MainType::ClientConfig:
        return &CPluginManage::onMainMsgClientConfig;
    case MainType::Capture:
        return &CPluginManage::onMainMsgCapture;
    case MainType::VoiceCustom:
        return &CPluginManage::onMainMsgVoiceCustom;
    case MainType::OnlineUpgrade:
        return &CPluginManage::onMainMsgOnlineUpgrade;
    case MainType::CheckToolVersion:
        return &CPluginManage::onMainMsgCheckToolVersion;
    case MainType::PTZControl:
        return &CPluginManage::onMainMsgPTZControl;
    case MainType::LocalUpgrade:
        return &CPluginManage::onMainMsgLocalUpgrade;
    case MainType::Relogin:
        return &CPluginManage::onMainMsgRelogin;
    case MainType::ScaleSwitch:
        return &CPluginManage::onMainMsgScaleSwitch;
    case MainType::CustomVoiceFile:
        return &CPluginManage::onMainMsgCustomVoiceFile;
    case MainType::ConsultAesKey:
        return &CPluginManage::onMainMsgConsultAesKey;
    case MainType::RegionInfo:
        return &CPluginManage::onMainMsgRegionInfo;
    default:
        return nullptr;
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
    if (const Handler handler = handlerFor(mainType)) {
        (this->*handler)(request);
        return;
    }
    sendDefaultReply(request);
}

void CPluginManage::sendDefaultReply(const Request &request)
{
    Json::Value reply = makeReply(request);
    reply["Ret"] = Ret::Missing;
    sendReply(reply);
}

void CPluginManage::onDisconnect()
{
    playerLog("CPluginManage::onDisconnect", QStringLiteral("link to the service closed"));
    onMainMsgLogout(Json::Value());
}

void CPluginManage::onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory)
{
    if (m_mainDevice.loginId <= 0 || nAppCpuStatus < 0 || nSystemCpuStatus < 0)
        return;
    m_nLastAppCpu = nAppCpuStatus;
    m_nLastSystemCpu = nSystemCpuStatus;
    m_nLastAppMemory = nAppMemory;
    Json::Value event = pageEvent(PageEvent::SystemStatus);
    event["AppCpu"] = nAppCpuStatus;
    event["SystemCpu"] = nSystemCpuStatus;
    event["AppMemory"] = nAppMemory;
    sendWebSocketMsg(JsonUtil::writeCompactText(event), false);
}

void CPluginManage::onChangePTZELectPage()
{
    Json::Value event = pageEvent(PageEvent::ElectPtz);
    event["nShowElect"] = 2;
    sendWebSocketMsg(JsonUtil::writeCompactText(event));
}

void CPluginManage::startProgressTimer()
{
    if (!m_nProgressTimerId)
        m_nProgressTimerId = startTimer(1000);
}

void CPluginManage::startPlaybackEndTimer()
{
    if (!m_nPlaybackEndTimerId)
        m_nPlaybackEndTimerId = startTimer(1000);
}

void CPluginManage::stopProgressTimer()
{
    if (m_nProgressTimerId)
        killTimer(m_nProgressTimerId);
    m_nProgressTimerId = 0;
}

void CPluginManage::stopPlaybackEndTimer()
{
    if (m_nPlaybackEndTimerId)
        killTimer(m_nPlaybackEndTimerId);
    m_nPlaybackEndTimerId = 0;
}

void CPluginManage::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_nProgressTimerId)
        sendPlaybackProgress();
    else if (event->timerId() == m_nPlaybackEndTimerId)
        checkPlaybackEnd();
}

void CPluginManage::sendPlaybackProgress()
{
    struct WindowTime
    {
        int chn = -1;
        float time = 0;
    };
    int page = -1;
    int curWnd = -1;
    WindowTime cur;
    WindowTime windows[4];
    const int mode = m_nPlaybackMode;
    RunOnWindow([&](PlayWidgetFacade *widget) {
        page = widget->GetCurPageIndex();
        if (page != 1)
            return;
        if (mode == 0 || mode == 1) {
            curWnd = widget->GetCurWndIndex();
            cur.chn = widget->GetCurWndChn(1);
            cur.time = widget->GetPlayTime(curWnd);
        } else if (mode == 2) {
            for (int i = 0; i < 4; ++i) {
                windows[i].chn = widget->GetWndChn(1, i);
                if (windows[i].chn >= 0)
                    windows[i].time = widget->GetPlayTime(i);
            }
        }
    });
    if (page != 1)
        return;

    auto sendProgress = [this](int wnd, const Json::Value &pos) {
        Json::Value event = pageEvent(PageEvent::PlaybackProgress);
        event["Data"]["wnd"] = wnd;
        if (!pos.isNull())
            event["Data"]["pos"] = pos;
        sendWebSocketMsg(JsonUtil::writeCompactText(event));
    };
    if (mode == 0 || mode == 1) {
        sendProgress(curWnd, cur.chn < 0 ? 0.0 : double(cur.time) * 1000.0);
    } else if (mode == 2) {
        for (int i = 0; i < 4; ++i)
            sendProgress(i, windows[i].chn < 0 ? Json::Value() : Json::Value(double(windows[i].time)));
    }
}

void CPluginManage::checkPlaybackEnd()
{
    const int wnd = playbackEndWindow();
    int yuv = -1;
    int buf = -1;
    RunOnWindow([&](PlayWidgetFacade *widget) { widget->GetPlaybackBufInfo(wnd, &yuv, &buf); });
    playerLog("CPluginManage::timerEvent", QStringLiteral("lYuvVal=%1 lBufVal=%2").arg(yuv).arg(buf));
    if (yuv > 0 || buf > 0)
        return;
    stopPlaybackEndTimer();
    EndPlaybackBuf(wnd);
}
