#include "WebSocketServerThread.h"

#include "ClientRegistry.h"
#include "PageDrain.h"
#include "ProcessControl.h"
#include "ServiceLog.h"
#include "common/Json.h"
#include "common/JsonScan.h"
#include "common/PollBeforeSleep.h"
#include "common/Protocol.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <malloc.h>

namespace {

WebSocketServerThread *g_instance = nullptr;

// Messages from this size on leave their memory to be given back.
constexpr int kTrimAfterBytes = 1024 * 1024;
constexpr int kTrimDelayMs = 500;
// "Try again later": a close code Qt has no name for.
constexpr int kCloseTryAgainLater = 1013;

// Ends the connection at once, with a reset: Qt says aboutToClose on the way,
// which must not start a drain here.
void cut(QWebSocket *socket)
{
    QObject::disconnect(socket, &QWebSocket::aboutToClose, nullptr, nullptr);
    socket->abort();
}

// Sends the close frame and deletes the socket once the connection is down;
// a page that has not taken the close frame within the drain's time is cut.
void closeAndDispose(QWebSocket *socket, int code, const QString &reason)
{
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(PageDrain::kDrainMs, socket, [socket] { cut(socket); });
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
}

} // namespace

WebSocketServerThread *WebSocketServerThread::instance()
{
    if (!g_instance)
        g_instance = new WebSocketServerThread(kFirstPort, kLastPort, Placement::CallerThread);
    return g_instance;
}

void WebSocketServerThread::releaseInstance()
{
    if (!g_instance)
        return;
    g_instance->stop();
    delete g_instance;
    g_instance = nullptr;
}

WebSocketServerThread::WebSocketServerThread(int firstPort, int lastPort, Placement placement)
    : m_lastPort(lastPort)
{
    m_server = new QWebSocketServer(QStringLiteral("Quorvel"), QWebSocketServer::NonSecureMode, this);
    m_trimTimer = new QTimer(this);
    m_trimTimer->setSingleShot(true);
    m_trimTimer->setInterval(kTrimDelayMs);
    connect(m_trimTimer, &QTimer::timeout, this, [] { ::malloc_trim(0); });
    if (!listenFromPort(firstPort))
        return;
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServerThread::onNewConnection);
    if (placement == Placement::CallerThread)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("WebSocketServer"));
    moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);
}

WebSocketServerThread::~WebSocketServerThread()
{
    stop();
    delete m_thread;
}

int WebSocketServerThread::listenFromPort(int port)
{
    for (; port <= m_lastPort; ++port) {
        if (m_server->listen(QHostAddress::LocalHost, quint16(port))) {
            m_listeningPort = port;
            ClientRegistry::instance()->setWebSocketPort(port);
            return 1;
        }
    }
    return 0;
}

void WebSocketServerThread::stop()
{
    if (!m_thread) {
        if (!m_stopped && isListening())
            closeAll();
        m_stopped = true;
        return;
    }
    if (!m_thread->isRunning())
        return;
    QThread *owner = QThread::currentThread();
    QMetaObject::invokeMethod(
        this,
        [this, owner] {
            closeAll();
            moveToThread(owner);
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

void WebSocketServerThread::closeAll()
{
    m_server->close();
    // Every page is told that the service goes away, as a closing page is
    // told, and its player link closes.
    std::vector<int> sessions;
    for (const auto &entry : m_pageSockets)
        sessions.push_back(entry.first);
    for (const int id : sessions)
        endSession(id, QWebSocketProtocol::CloseCodeGoingAway, true);
    // The close frames go out and the pages get their time to close.
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        if (PageDrain::running(this) == 0 || waited.elapsed() > PageDrain::kDrainMs + 500)
            loop.quit();
    });
    tick.start(10);
    if (PageDrain::running(this) > 0)
        loop.exec();
    m_pageSockets.clear();
    for (auto it = m_pageFds.begin(); it != m_pageFds.end(); it = m_pageFds.begin())
        unwatchPage(it->first);
    for (auto &entry : m_pageSessions)
        entry.second->wipe();
    m_pageSessions.clear();
    for (auto &entry : m_browseProcesses)
        ProcessControl::terminate(entry.second.process);
    m_browseProcesses.clear();
}

std::shared_ptr<PageSession> WebSocketServerThread::pageSession(int nSessionID) const
{
    const auto it = m_pageSessions.find(nSessionID);
    return it == m_pageSessions.end() ? nullptr : it->second;
}

void WebSocketServerThread::dropPageSession(int nSessionID)
{
    const auto it = m_pageSessions.find(nSessionID);
    if (it == m_pageSessions.end())
        return;
    // Wiped here, not when the last holder lets go: no key outlives its session.
    it->second->wipe();
    m_pageSessions.erase(it);
}

void WebSocketServerThread::trackChooser(int nSessionID, QProcess *process)
{
    Chooser &chooser = m_browseProcesses[nSessionID];
    chooser.process = process;
    chooser.ended = false;
}

void WebSocketServerThread::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QWebSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            return;
        // Whoever closes the page, Qt (1009) or the service, the page's
        // close frame is followed by the drain.
        QAbstractSocket *connection = connectionOf(socket);
        connect(socket, &QWebSocket::aboutToClose, connection ? static_cast<QObject *>(connection) : socket,
            [this, connection] { PageDrain::follow(connection, this); });
        if (int(m_pageSockets.size()) >= kMaxSessions) {
            serviceLog("WebSocketServerThread::onNewConnection",
                QStringLiteral("refused a page: %1 sessions are open").arg(m_pageSockets.size()),
                ServiceLog::Warning);
            closeAndDispose(socket, kCloseTryAgainLater, QStringLiteral("try again later"));
            continue;
        }
        const int id = ClientRegistry::instance()->takeSessionId();
        // Over the cap, Qt closes the connection with 1009 before it holds the
        // message: a frame is refused by its header, a message by its parts.
        socket->setMaxAllowedIncomingFrameSize(quint64(kMaxPageMessage));
        socket->setMaxAllowedIncomingMessageSize(quint64(kMaxPageMessage));
        m_pageSockets[id] = socket;
        m_pageSessions[id] = std::make_shared<PageSession>(id);
        watchPage(id, connection);
        if (connection) {
            // Qt answers a page's pings itself: after Qt has read the page's
            // bytes (its own handler is queued too), what waits unsent is
            // looked at, so that pongs to a page that never reads count
            // against the bound as replies do.
            connect(
                connection, &QAbstractSocket::readyRead, this,
                [this, id] {
                    const auto it = m_pageSockets.find(id);
                    if (it != m_pageSockets.end() && it->second)
                        checkUnsent(id, it->second);
                },
                Qt::QueuedConnection);
        }
        // Handled on the next turn of the loop, never inside a write to the
        // page that found the connection gone: a send may rely on the
        // session outliving it.
        connect(
            socket, &QWebSocket::disconnected, this, [this, id] { onSocketDisconnected(id); },
            Qt::QueuedConnection);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, id](const QString &text) {
            onTextMessage(text, id);
            if (text.size() >= kTrimAfterBytes)
                m_trimTimer->start();
        });
        const auto name = m_windowNames.find(id);
        const QString wndID = name == m_windowNames.end() ? QString() : name->second;
        emit newConnectionSig(id, wndID);
    }
}

void WebSocketServerThread::onTextMessage(const QString &text, int nSessionID)
{
    if (holdWhileDiyStep(text, nSessionID))
        return;
    const std::shared_ptr<PageSession> session = pageSession(nSessionID);
    if (session && session->isKeyed()) {
        QByteArray plain;
        if (!session->textFromPage(text.toUtf8(), &plain)) {
            serviceLog("WebSocketServerThread::onTextMessage",
                QStringLiteral("session %1 dropped a message that does not decrypt").arg(nSessionID),
                ServiceLog::Warning);
            return;
        }
        // Text that is no Base64 is a plain message and goes on as it is.
        emit recvMsgSig(plain, nSessionID);
        return;
    }

    // Routing needs the MainType alone: one pass over the text, no document,
    // so a message near the cap holds the other pages no longer than the
    // scan. The player gets the text whole.
    const QByteArray utf8 = text.toUtf8();
    const JsonScan::MainTypeField mainType
        = JsonScan::mainType(std::string_view(utf8.constData(), size_t(utf8.size())));
    switch (mainType.kind) {
    case JsonScan::MainTypeField::Kind::NotObject:
        serviceLog("WebSocketServerThread::onTextMessage",
            QStringLiteral("session %1 dropped a message that is no JSON object").arg(nSessionID),
            ServiceLog::Warning);
        return;
    case JsonScan::MainTypeField::Kind::Mistyped:
        serviceLog("WebSocketServerThread::onTextMessage",
            QStringLiteral("session %1 dropped a message with a mistyped MainType").arg(nSessionID),
            ServiceLog::Warning);
        return;
    case JsonScan::MainTypeField::Kind::Int:
        if (mainType.value == MainType::DiyFirmware) {
            onMainMsgDiyFirmware(text, nSessionID);
            return;
        }
        break;
    case JsonScan::MainTypeField::Kind::Absent:
        break;
    }
    emit recvMsgSig(utf8, nSessionID);
}

void WebSocketServerThread::onSendMsg(QByteArray msg, int nSessionID)
{
    const auto it = m_pageSockets.find(nSessionID);
    if (it == m_pageSockets.end() || !it->second)
        return;
    // The page's next request often follows the answer within microseconds.
    if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
        poll->noteSent();

    // The player's session key reply: {"Msg":32, ..., "key":{"key":"...","iv":""}}.
    if (msg.contains("\"key\"")) {
        Json::Value root;
        int type = 0;
        std::string key;
        if (JsonUtil::parse(msg.toStdString(), &root) && JsonUtil::readInt(root, "Msg", &type)
            && type == MainType::ConsultAesKey
            && JsonUtil::readString(JsonUtil::member(root, "key"), "key", &key)) {
            if (const std::shared_ptr<PageSession> session = pageSession(nSessionID))
                session->setKey(QByteArray::fromStdString(key));
            std::fill(key.begin(), key.end(), '\0');
            // The key reply itself travels in plain text.
            sendText(nSessionID, QString::fromUtf8(msg), false);
            return;
        }
    }

    QByteArray text = msg;
    const std::shared_ptr<PageSession> session = pageSession(nSessionID);
    if (session && !session->textForPage(msg, &text)) {
        // Never plain text on a keyed session.
        serviceLog("WebSocketServerThread::onSendMsg",
            QStringLiteral("session %1 dropped a message that does not encrypt").arg(nSessionID),
            ServiceLog::Warning);
        return;
    }
    sendText(nSessionID, QString::fromUtf8(text), true);
}

QAbstractSocket *WebSocketServerThread::connectionOf(QWebSocket *socket) const
{
    // The connection under the page's socket: Qt leaves it a child of the
    // server that accepted it; the peer's address and port pick it out.
    if (auto *own = socket->findChild<QAbstractSocket *>())
        return own;
    for (QAbstractSocket *candidate : m_server->findChildren<QAbstractSocket *>()) {
        if (candidate->peerPort() == socket->peerPort() && candidate->peerAddress() == socket->peerAddress()
            && candidate->socketDescriptor() >= 0)
            return candidate;
    }
    return nullptr;
}

void WebSocketServerThread::watchPage(int nSessionID, const QAbstractSocket *connection)
{
    if (!connection || connection->socketDescriptor() < 0)
        return;
    PollBeforeSleep *poll = PollBeforeSleep::forCurrentThread(kPollBeforeSleepUs);
    if (!poll)
        return;
    m_pageFds[nSessionID] = int(connection->socketDescriptor());
    poll->watch(int(connection->socketDescriptor()));
}

void WebSocketServerThread::unwatchPage(int nSessionID)
{
    const auto it = m_pageFds.find(nSessionID);
    if (it == m_pageFds.end())
        return;
    if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
        poll->unwatch(it->second);
    m_pageFds.erase(it);
}

void WebSocketServerThread::sendToPage(int nSessionID, const QByteArray &text)
{
    sendText(nSessionID, QString::fromUtf8(text), false);
}

void WebSocketServerThread::sendText(int nSessionID, const QString &text, bool flush)
{
    const auto it = m_pageSockets.find(nSessionID);
    if (it == m_pageSockets.end() || !it->second)
        return;
    // A copy, not a reference into the table: whatever the write sets off,
    // the session is looked up again after it.
    const QPointer<QWebSocket> socket = it->second;
    socket->sendTextMessage(text);
    if (flush && socket)
        socket->flush(); // out now rather than on the next turn of the event loop
    const auto held = m_pageSockets.find(nSessionID);
    if (socket && held != m_pageSockets.end() && held->second == socket)
        checkUnsent(nSessionID, socket);
}

void WebSocketServerThread::checkUnsent(int nSessionID, QWebSocket *socket)
{
    if (socket->bytesToWrite() <= kMaxUnsentBytes)
        return;
    serviceLog("WebSocketServerThread::checkUnsent",
        QStringLiteral("session %1 ended: its page left %2 bytes unread")
            .arg(nSessionID)
            .arg(socket->bytesToWrite()),
        ServiceLog::Warning);
    // Nothing more reaches a page that does not read, not even a close frame.
    unwatchPage(nSessionID);
    socket->disconnect(this);
    cut(socket);
    endSession(nSessionID, QWebSocketProtocol::CloseCodeGoingAway, true);
    m_trimTimer->start();
}

void WebSocketServerThread::onSocketDisconnected(int nSessionID)
{
    endSession(nSessionID, QWebSocketProtocol::CloseCodeNormal, true);
}

void WebSocketServerThread::onPlayerLost(int nSessionID)
{
    if (m_pageSockets.find(nSessionID) == m_pageSockets.end())
        return;
    serviceLog("WebSocketServerThread::onPlayerLost",
        QStringLiteral("session %1 closed: its player is gone").arg(nSessionID), ServiceLog::Warning);
    endSession(nSessionID, QWebSocketProtocol::CloseCodeBadOperation, false);
}

void WebSocketServerThread::endSession(int nSessionID, int code, bool tellPlayer)
{
    const auto it = m_pageSockets.find(nSessionID);
    if (it != m_pageSockets.end() && it->second) {
        QWebSocket *socket = it->second;
        socket->disconnect(this);
        closeAndDispose(socket, code, QString());
        unwatchPage(it->first);
        m_pageSockets.erase(it);
        if (tellPlayer)
            emit disconnectWebsocketSig(nSessionID);
    } else if (it != m_pageSockets.end()) {
        unwatchPage(it->first);
        m_pageSockets.erase(it);
    }

    dropPageSession(nSessionID);

    // Marked first: the chooser's finished handler, which may run inside the
    // termination, then sends nothing.
    const auto chooser = m_browseProcesses.find(nSessionID);
    if (chooser != m_browseProcesses.end() && !chooser->second.ended) {
        chooser->second.ended = true;
        ProcessControl::terminate(chooser->second.process);
    }
    dropDiySession(nSessionID);
}

void WebSocketServerThread::onCloseWebSocket(int nSessionID)
{
    const auto it = m_pageSockets.find(nSessionID);
    if (it == m_pageSockets.end() || !it->second)
        return;
    QWebSocket *socket = it->second;
    socket->disconnect(this);
    socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    socket->deleteLater();
    unwatchPage(it->first);
    m_pageSockets.erase(it);
    dropPageSession(nSessionID);
}

void WebSocketServerThread::onEmbedBrwoseWndID(QString strWndName)
{
    m_windowNames[ClientRegistry::instance()->nextSessionId()] = strWndName;
}
