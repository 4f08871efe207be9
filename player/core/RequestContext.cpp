#include "RequestContext.h"

#include "PlayWidgetFacade.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "common/FileChooser.h"
#include "common/Json.h"
#include "common/ProgramDir.h"
#include "common/ThreadOrder.h"

#include <QThread>

#include <atomic>

namespace {

std::atomic<Qt::HANDLE> g_guiThreadId { nullptr };
QString g_appFolder;

} // namespace

RequestContext::RequestContext(CPluginManage &manage, const QString &browserWnd, int sessionId)
    : m_manage(manage)
    , m_strBrowserWnd(browserWnd)
    , m_nSessionId(sessionId)
{
    g_guiThreadId = QThread::currentThreadId();
}

bool RequestContext::isGuiThread()
{
    return QThread::currentThreadId() == g_guiThreadId.load();
}

void RequestContext::setAppFolder(const QString &folder)
{
    g_appFolder = folder;
}

QString RequestContext::appFolder()
{
    return g_appFolder.isEmpty() ? ProgramDir::folder() : g_appFolder;
}

void RequestContext::setLoginOptions(const QString &webType, bool sampleRate16)
{
    m_strWebType = webType;
    m_bSampleRate16 = sampleRate16;
}

void RequestContext::sendReply(const Json::Value &reply, bool log)
{
    m_manage.sendWebSocketMsg(JsonUtil::writeCompactText(reply), log);
}

void RequestContext::sendEvent(const Json::Value &event, bool log)
{
    m_manage.sendWebSocketMsg(JsonUtil::writeCompactText(event), log);
}

void RequestContext::RunInMainThread(std::function<void(void)> task)
{
    if (isGuiThread()) {
        task();
        return;
    }
    // The call blocks until the task has run on the GUI thread.
    std::function<void(void)> marked = [&task] {
        ThreadOrder::takeOver();
        task();
        ThreadOrder::handOver();
    };
    ThreadOrder::handOver();
    emit m_manage.returnToMainThreadSyncSig(std::move(marked));
    ThreadOrder::takeOver();
}

void RequestContext::RunOnWindow(const std::function<void(PlayWidgetFacade *widget)> &task)
{
    RunInMainThread([&task] {
        if (PlayWidgetFacade *widget = PlayerWindow::current())
            task(widget);
    });
}

void RequestContext::RunInMainThreadAsync(std::function<void(void)> task)
{
    emit m_manage.returnToMainThreadAsyncSig(std::move(task));
}

void RequestContext::RunInWorkerThread(std::function<void(void)> task)
{
    emit m_manage.returnToThisThreadSig(std::move(task));
}

QObject *RequestContext::worker() const
{
    return &m_manage;
}

void RequestContext::chooseWithBrowser(
    const QStringList &args, std::function<void(bool chosen, const QString &path)> done)
{
    FileChooser::start(
        &m_manage, FileChooser::programPath(appFolder()), args, [done](const FileChooser::Answer &answer) {
            const bool chosen = answer.ok && !answer.path.isEmpty();
            if (done)
                done(chosen, chosen ? answer.path : QString());
        });
}

void RequestContext::replyWithChosenPath(const QStringList &args, const Json::Value &reply)
{
    chooseWithBrowser(args, [this, reply](bool chosen, const QString &path) {
        Json::Value answer = reply;
        answer["nRet"] = Ret::Failed;
        if (chosen) {
            answer["Path"] = path.toStdString();
            answer["nRet"] = Ret::Ok;
        }
        sendReply(answer);
    });
}
