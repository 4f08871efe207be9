#pragma once

#include "RequestContext.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CGetSystemStatus;
class DownloadTopic;
class LiveViewTopic;
class PlaybackTopic;
class QThread;
class SessionTopic;
class SettingsTopic;
class TalkTopic;
class UpgradeTopic;
class ViewControlTopic;

// The player's request manager: it lives on a worker thread of its own,
// receives every request of the page, picks the topic that handles its
// "MainType" and sends the topic's answer. The topics share one
// RequestContext; every reply and event leaves through sendWebSocketMsg.
class CPluginManage : public QObject
{
    Q_OBJECT

public:
    // Requests are parsed from at most this many bytes of UTF-8.
    static constexpr int kMaxRequestBytes = 65536;

    // Must run on the GUI thread; moves the object to its worker thread.
    CPluginManage(const QString &browserWnd, int sessionId, QObject *parent = nullptr);
    ~CPluginManage() override;

    // The one request manager of the process (null before it is made).
    static CPluginManage *instance();

    RequestContext &context() { return *m_context; }
    LiveViewTopic &liveView() { return *m_live; }
    PlaybackTopic &playback() { return *m_playback; }
    DownloadTopic &downloads() { return *m_downloads; }
    ViewControlTopic &viewControl() { return *m_view; }
    SettingsTopic &settings() { return *m_settings; }
    TalkTopic &talk() { return *m_talk; }
    UpgradeTopic &upgrades() { return *m_upgrades; }
    SessionTopic &session() { return *m_session; }

    // Logs (when asked) and sends one message to the page, from any thread.
    void sendWebSocketMsg(const QString &msg, bool log = true);
    // Ends the worker thread (at exit), letting pending GUI tasks run meanwhile.
    void stopWorker();
    QThread *workerThread() const { return m_thread; }
    CGetSystemStatus *systemStatus() const { return m_pSystemStatus; }

signals:
    void returnToMainThreadSyncSig(std::function<void(void)> task);
    void returnToMainThreadAsyncSig(std::function<void(void)> task);
    void returnToThisThreadSig(std::function<void(void)> task);
    void sendWebSocketMsgSig(QString msg);

public slots:
    void onSendSystemStatus(int nAppCpuStatus, int nSystemCpuStatus, int nAppMemory);
    void onChangePTZELectPage();
    void onRecvWebsocketMsg(QString msg);
    void onDisconnect();
    void onCurWndIndexChange(int nPageId, int nWndIndex);

private:
    // The topic's answer to a request of `mainType`; the default reply for
    // a kind without a handler.
    Answer route(int mainType, const Request &request);
    void dispatch(const Request &request);

    std::unique_ptr<RequestContext> m_context;
    CGetSystemStatus *m_pSystemStatus = nullptr;
    std::unique_ptr<LiveViewTopic> m_live;
    std::unique_ptr<DownloadTopic> m_downloads;
    PlaybackTopic *m_playback = nullptr; // a child: its timers live on the worker thread
    std::unique_ptr<ViewControlTopic> m_view;
    std::unique_ptr<SettingsTopic> m_settings;
    std::unique_ptr<TalkTopic> m_talk;
    std::unique_ptr<UpgradeTopic> m_upgrades;
    std::unique_ptr<SessionTopic> m_session;
    QThread *m_thread = nullptr;
};
