#pragma once

#include "DeviceLoginInfo.h"
#include "common/PageMessage.h"

#include <json/value.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class CPluginManage;
class PlayWidgetFacade;
class QObject;

// The page's parsed request.
using Request = Json::Value;

// What a request handler answers: the reply that the dispatcher sends at
// once, or nothing now (the request gets no reply, or a later one that a
// callback or a task sends through RequestContext::sendReply).
struct Answer
{
    // Nothing now: `return {};`.
    Answer() = default;
    // The reply: `return reply;` (implicit on purpose).
    Answer(Json::Value value)
        : reply(std::move(value))
    { }
    std::optional<Json::Value> reply;
    // False when the handler has logged the reply under a name of its own.
    bool log = true;
};

// What the request topics share: the device session, the way replies and
// events leave, the hand-off to the GUI thread and back to the worker, and
// the file chooser. Made by the request manager on the GUI thread; used on
// the worker thread unless a function says otherwise.
class RequestContext
{
public:
    RequestContext(CPluginManage &manage, const QString &browserWnd, int sessionId);

    // The thread that made the request manager (the GUI thread).
    static bool isGuiThread();
    // The folder of "ClientCfg.ini", "QuorvelToolVersion.ini", "NewVersion.ini"
    // and the file chooser: the program's own folder unless set (tests).
    static void setAppFolder(const QString &folder);
    static QString appFolder();

    // ---- the device session ----
    int sessionId() const { return m_nSessionId; }
    QString browserWnd() const { return m_strBrowserWnd; }
    DeviceLoginInfo &mainDevice() { return m_mainDevice; }
    // "WebType" and "SampleRate_16" of the last login.
    QString webType() const { return m_strWebType; }
    bool sampleRate16() const { return m_bSampleRate16; }
    void setLoginOptions(const QString &webType, bool sampleRate16);

    // ---- replies and events (any thread) ----
    // The one place a reply to the page leaves: the dispatcher's for the
    // handlers' answers, and the late answers of callbacks and tasks.
    void sendReply(const Json::Value &reply, bool log = true);
    void sendEvent(const Json::Value &event, bool log = true);

    // ---- threads ----
    // Runs `task` on the GUI thread and returns once it has run.
    void RunInMainThread(std::function<void(void)> task);
    // Runs `task` with the window on the GUI thread and returns once it has
    // run; does nothing when there is no window.
    void RunOnWindow(const std::function<void(PlayWidgetFacade *widget)> &task);
    // Posts `task` to the GUI thread without waiting.
    void RunInMainThreadAsync(std::function<void(void)> task);
    // Runs `task` on the worker thread (used by library callbacks; any thread).
    void RunInWorkerThread(std::function<void(void)> task);
    // The object that lives on the worker thread: parent of child processes,
    // network objects and timers.
    QObject *worker() const;

    // ---- the file chooser ----
    // Starts the chooser with `args`; `done` runs on the worker thread when
    // it has ended: `chosen` with the whole output as `path`, else nothing
    // was chosen (cancelled, failed, crashed or missing chooser).
    void chooseWithBrowser(
        const QStringList &args, std::function<void(bool chosen, const QString &path)> done);
    // Starts the chooser and, once it has ended, sends `reply` with "Path"
    // and "nRet" Ok when a path was chosen, else with "nRet" Failed.
    void replyWithChosenPath(const QStringList &args, const Json::Value &reply);

private:
    CPluginManage &m_manage;
    QString m_strBrowserWnd;
    int m_nSessionId = 0;
    DeviceLoginInfo m_mainDevice;
    QString m_strWebType;
    bool m_bSampleRate16 = false;
};
