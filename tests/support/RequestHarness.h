#pragma once

// A request manager driven the way the link drives it: requests are posted to
// its worker thread and what it sends is collected on this (the GUI) thread,
// which keeps serving the manager's GUI tasks while a test waits.

#include "PluginManage.h"

#include <QStringList>
#include <QtTest>

#include <functional>
#include <mutex>
#include <thread>

class RequestHarness
{
public:
    CPluginManage *manage = nullptr;
    QStringList sent;

    // Makes the manager; `keep` chooses what `sent` collects (all when unset).
    void make(QObject *context, const QString &browserWnd, int sessionId,
        std::function<bool(const QString &)> keep = {})
    {
        manage = new CPluginManage(browserWnd, sessionId);
        QObject::connect(
            manage, &CPluginManage::sendWebSocketMsgSig, context, [this, keep](const QString &m) {
                if (!keep || keep(m))
                    sent.append(m);
            });
    }
    void destroy()
    {
        if (!manage)
            return;
        manage->stopWorker();
        delete manage;
        manage = nullptr;
    }

    void post(const QString &msg)
    {
        QMetaObject::invokeMethod(manage, "onRecvWebsocketMsg", Qt::QueuedConnection, Q_ARG(QString, msg));
    }

    // Runs `f` on the worker thread; false when it did not end in time.
    bool onWorker(std::function<void()> f, int timeoutMs = 30000)
    {
        QAtomicInt done = 0;
        QMetaObject::invokeMethod(
            manage,
            [&] {
                f();
                done = 1;
            },
            Qt::QueuedConnection);
        return QTest::qWaitFor([&] { return done.loadAcquire() == 1; }, timeoutMs);
    }

    // What `msg` made the manager send, up to a marker request behind it.
    QStringList answersTo(const QString &msg, int timeoutMs = 30000)
    {
        sent.clear();
        post(msg);
        return untilMarker(timeoutMs);
    }

    // What was sent since `sent` was last cleared, once the worker has
    // finished everything queued before now.
    QStringList flush(int timeoutMs = 30000)
    {
        const QStringList out = untilMarker(timeoutMs);
        sent.clear();
        return out;
    }

    // One message and the thread that sent it.
    struct Sent
    {
        QString text;
        Qt::HANDLE thread = nullptr;
    };
    // Runs `callback` on a thread of its own, as a library's callback runs,
    // and returns what that made the manager send, once the worker has
    // finished what it queued.
    QList<Sent> sentFromLibrary(const std::function<void()> &callback)
    {
        std::mutex mutex;
        QList<Sent> out;
        const auto c = QObject::connect(
            manage, &CPluginManage::sendWebSocketMsgSig, manage,
            [&](const QString &m) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!m.contains(QLatin1String("\"marker\"")) && (!m_keep || m_keep(m)))
                    out.append({ m, QThread::currentThreadId() });
            },
            Qt::DirectConnection);
        sent.clear();
        std::thread library(callback);
        library.join();
        flush();
        QObject::disconnect(c);
        std::lock_guard<std::mutex> lock(mutex);
        return out;
    }

private:
    std::function<bool(const QString &)> m_keep;

    QStringList untilMarker(int timeoutMs)
    {
        post(QStringLiteral("{\"MainType\":13,\"MsgID\":\"marker\"}"));
        const QString marker
            = QStringLiteral("{\"Msg\":13,\"MsgID\":\"marker\",\"Ret\":1020,\"SubMsg\":null}\n");
        if (!QTest::qWaitFor([&] { return sent.contains(marker); }, timeoutMs))
            return { QStringLiteral("<no marker>") };
        return sent.mid(0, sent.indexOf(marker));
    }
};
