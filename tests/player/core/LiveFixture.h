#pragma once

// A request manager logged in to a simulated device, with a recording window
// side that keeps a live page: what the live-view and event tests share.

#include "DownloadTopic.h"
#include "KestrixCallLog.h"
#include "LightWeightLog.h"
#include "LiveViewTopic.h"
#include "PlaybackTopic.h"
#include "PlayerWindow.h"
#include "PluginManage.h"
#include "RecordingPlayWidget.h"
#include "RequestContext.h"
#include "RequestHarness.h"
#include "SessionTopic.h"
#include "TalkTopic.h"
#include "UpgradeTopic.h"

#include "kestrix/kestrix.h"
#include "kestrix/kestrix_control.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

namespace live_fixture {

inline QJsonObject object(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

inline QStringList functionsOf(const std::string &function)
{
    return KestrixCallLog::describe(kestrix::control::callsOf(function), true);
}

inline kestrix::DeviceSpec device(int channels = 16)
{
    kestrix::DeviceSpec s;
    s.address = "10.0.0.5";
    s.serial = "SN-LIVE";
    s.user = "admin";
    s.password = "secret";
    s.videoChannels = channels;
    s.defaultRecordings = false;
    return s;
}

class LiveFixture : public RequestHarness
{
public:
    QStringList log;
    QObject *context = nullptr;

    RecordingPlayWidget *widget() const { return m_widget.get(); }
    // The window side the manager sees; null: no window exists.
    void install(bool on) { m_installed.store(on ? m_widget.get() : nullptr); }
    // How often the manager asked for the window side off the GUI thread.
    int foreignLookups() const { return m_foreignLookups.load(); }

    void initTestCase(QObject *ctx)
    {
        context = ctx;
        qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
        QObject::connect(LightWeightLog::instance(), &LightWeightLog::writeLogSig, ctx,
            [this](const QString &line) { log.append(line); });
        PlayerWindow::setProvider([this] {
            if (!RequestContext::isGuiThread())
                m_foreignLookups.fetch_add(1);
            return m_installed.load();
        });
    }

    // A fresh manager and window side, logged in to the device `described`.
    bool start(const kestrix::DeviceSpec &described, const QString &loginExtra = QString())
    {
        kestrix::control::reset();
        kestrix::control::addDevice(described);
        m_widget = std::make_unique<RecordingPlayWidget>();
        m_widget->trackLive = true;
        m_widget->page = 0;
        m_widget->curWnd = 0;
        m_widget->recordInput = false;
        install(true);
        m_foreignLookups = 0;
        make(context, QStringLiteral("4400012"), 7,
            [](const QString &m) { return !m.startsWith(QLatin1String("{\"AppCpu\":")); });
        const QStringList answers = answersTo(loginRequest(described, loginExtra));
        if (answers.size() != 1 || object(answers[0]).value(QStringLiteral("Ret")).toInt() != 100) {
            qWarning() << "login failed" << answers;
            return false;
        }
        m_widget->clear();
        kestrix::control::clearCalls();
        log.clear();
        return true;
    }

    // The login request for the device `described` by its serial number.
    static QString loginRequest(const kestrix::DeviceSpec &described, const QString &loginExtra = QString())
    {
        return QStringLiteral(
            "{\"MainType\":8,\"MsgID\":1,\"Browse\":2%1,\"Device\":{\"LoginType\":1,\"SN\":\"%2\","
            "\"User\":\"admin\",\"Password\":\"secret\"}}")
            .arg(loginExtra, QString::fromStdString(described.serial));
    }

    void stop()
    {
        if (!manage)
            return;
        // The logout stops every stream before the window side goes.
        answersTo(QStringLiteral("{\"MainType\":9}"));
        destroy();
        install(false);
        m_widget.reset();
    }

    void cleanupTestCase()
    {
        stop();
        PlayerWindow::setProvider(nullptr);
    }

    // Waits until the streams of `channels` delivered a picture and its size
    // reached the worker, then forgets what that made the manager send.
    bool settle(const QList<int> &channels)
    {
        for (int c : channels) {
            // Three more blocks hold a whole video block that began now:
            // its size has been posted once the block after it arrives.
            const int start = m_widget->inputs(c);
            if (!QTest::qWaitFor([&] { return m_widget->inputs(c) >= start + 3; }, 30000))
                return false;
        }
        answersTo(QStringLiteral("{\"MainType\":13}"));
        sent.clear();
        return true;
    }

    // The same as JSON objects.
    QList<QJsonObject> messagesFor(const QString &msg)
    {
        QList<QJsonObject> out;
        for (const QString &m : answersTo(msg))
            out.append(object(m));
        return out;
    }

    // The request's reply (the last message) alone.
    QJsonObject replyTo(const QString &msg)
    {
        const QList<QJsonObject> all = messagesFor(msg);
        return all.isEmpty() ? QJsonObject() : all.last();
    }

    int handle(int channel)
    {
        int h = 0;
        onWorker([&] { h = manage->context().mainDevice().realHandles[channel]; });
        return h;
    }

    int loginId()
    {
        int id = 0;
        onWorker([&] { id = manage->context().mainDevice().loginId; });
        return id;
    }

    bool logged(const QString &text) const { return !log.filter(text).isEmpty(); }

private:
    std::unique_ptr<RecordingPlayWidget> m_widget;
    std::atomic<RecordingPlayWidget *> m_installed { nullptr };
    std::atomic<int> m_foreignLookups { 0 };
};

// "MainEvent/SubEvent" of an event, "reply" for a reply.
inline QString kindOf(const QJsonObject &message)
{
    if (message.contains(QStringLiteral("MainEvent")))
        return QStringLiteral("%1/%2")
            .arg(message.value(QStringLiteral("MainEvent")).toInt())
            .arg(message.value(QStringLiteral("SubEvent")).toInt());
    return QStringLiteral("reply");
}

inline QStringList kindsOf(const QList<QJsonObject> &messages)
{
    QStringList out;
    for (const QJsonObject &m : messages)
        out.append(kindOf(m));
    return out;
}

} // namespace live_fixture
