#include "GeneralSocket.h"

#include "ClientRegistry.h"
#include "RawSocket.h"
#include "RawWsConnection.h"
#include "RequestTasks.h"
#include "WsFrame.h"
#include "common/Json.h"
#include "common/ProgramDir.h"
#include "common/Protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#include <climits>

namespace {

GeneralSocket *g_instance = nullptr;

const char kPreflightReply[] = "HTTP/1.1 200 OK\r\n"
                               "Access-Control-Allow-Origin:*\r\n"
                               "Access-Control-Allow-Headers:Content-Type, Content-Length, Authorization, "
                               "Accept, X-Requested-With\r\n"
                               "Access-Control-Allow-Methods: GET, POST, OPTIONS, HEAD\r\n"
                               "Access-Control-Max-Age: 8640000\r\n"
                               "Content-Length: 0\r\n"
                               "Connection: close\r\n"
                               "Content-Type: text/plain\r\n"
                               "\r\n";

const char kContinueReply[] = "HTTP/1.1 100 Continue\r\n\r\n";

QString webRootOf(const QString &appDir)
{
    QString root = appDir;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = root.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? root : root.left(slash);
}

} // namespace

GeneralSocket *GeneralSocket::instance()
{
    if (!g_instance)
        g_instance = new GeneralSocket(ProgramDir::folder());
    return g_instance;
}

void GeneralSocket::releaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

GeneralSocket::GeneralSocket(const QString &appDir, int firstPort, int lastPort, QObject *parent)
    : QThread(parent)
    , m_strWebRoot(webRootOf(appDir))
    , m_strAppDir(appDir)
    , m_firstPort(firstPort)
    , m_lastPort(lastPort)
{
    QThreadPool::globalInstance()->setMaxThreadCount(10);
}

GeneralSocket::~GeneralSocket()
{
    // The server thread and the sessions' threads may each be waiting for a
    // page message to be taken by the GUI thread; when that is this thread,
    // its events are handled while it waits for them.
    const bool ownThread
        = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    m_bStop = true;
    RawSocket::wakeListener(m_listenSocket.load());
    while (!wait(ownThread ? 20 : ULONG_MAX)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const int listener = m_listenSocket.exchange(-1);
    if (listener >= 0)
        RawSocket::closeSocket(listener);
    m_port = 0;

    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        for (const auto &entry : m_sessions)
            entry.second->shutdown();
    }
    for (;;) {
        std::unique_lock<std::mutex> lock(m_threadMutex);
        if (m_finishedThreads.size() == m_clientThreads.size())
            break;
        if (ownThread) {
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            lock.lock();
        }
        m_threadEnded.wait_for(lock, std::chrono::milliseconds(20));
    }
    joinFinishedThreads();
}

bool GeneralSocket::listen()
{
    if (m_listenSocket.load() >= 0)
        return true;
    int port = 0;
    const int s = RawSocket::listenLoopback(m_firstPort, m_lastPort, &port);
    if (s < 0) {
        qDebug("Bind error: no free port in %d..%d", m_firstPort, m_lastPort);
        return false;
    }
    qDebug("Bind Port:%d", port);
    m_listenSocket = s;
    m_port = port;
    return true;
}

void GeneralSocket::run()
{
    if (m_bStop || !listen())
        return;
    while (!m_bStop) {
        const int s = RawSocket::acceptConnection(m_listenSocket.load());
        if (s < 0)
            return;
        if (m_bStop) {
            RawSocket::closeSocket(s);
            return;
        }
        try {
            DealClientMsg(s);
        } catch (...) {
            // Out of memory in a request: that connection is dropped, the
            // server goes on.
            RawSocket::closeSocket(s);
        }
    }
}

HttpRequest::Scan GeneralSocket::gatherRequest(int s, QByteArray *request, HttpRequest::Head *head)
{
    bool continueSent = false;
    char chunk[16384];
    for (;;) {
        const HttpRequest::Scan state = HttpRequest::scan(request->constData(), request->size(), head);
        if (state != HttpRequest::Scan::NeedMore)
            return state;
        // A client that waits for leave to send its body gets it once.
        if (head->headLength > 0 && head->expectContinue && !continueSent
            && request->size() == head->headLength) {
            continueSent = true;
            if (ClientRegistry::sendData(s, kContinueReply, int(sizeof kContinueReply - 1), 3) < 0)
                return state;
        }
        if (m_bStop || RawSocket::waitReadable(s, kRequestWaitMs) != RawSocket::Wait::Ready)
            return state;
        const int room = HttpRequest::kMaxRequest - request->size();
        const ssize_t n = RawSocket::receiveSome(s, chunk, size_t(qMin<int>(room, int(sizeof chunk))));
        if (n == -2)
            continue;
        if (n <= 0)
            return state;
        request->append(chunk, int(n));
    }
}

void GeneralSocket::DealClientMsg(int s)
{
    QByteArray request;
    HttpRequest::Head head;
    const HttpRequest::Scan state = gatherRequest(s, &request, &head);
    if (state == HttpRequest::Scan::Bad) {
        ClientRegistry::sendHttpText("", 0, 400, s);
        RawSocket::closeSocket(s);
        return;
    }
    // A head that never ended is no request; one whose body was cut short is
    // still handled with what came.
    if (head.headLength == 0) {
        RawSocket::closeSocket(s);
        return;
    }
    switch (HttpRequest::classify(head.header)) {
    case HttpRequest::Kind::NotHttp:
        break;
    case HttpRequest::Kind::Preflight:
        ClientRegistry::sendData(s, kPreflightReply, int(sizeof kPreflightReply - 1), 2);
        break;
    case HttpRequest::Kind::Control:
        if (dealWebLocalCtrl(s, request, head) == 2)
            return;
        break;
    case HttpRequest::Kind::WebSocket: {
        const int end = head.headLength + head.contentLength;
        const int result = dealWebSocketConnect(s, head, request.mid(end));
        // Once a session object exists it owns the socket, thread or not.
        if (result == Ret::Ok || result == Ret::RawThreadFailed)
            return;
        break;
    }
    case HttpRequest::Kind::File:
        if (dealHttpGetFile(s, head) == Ret::FileHandedToTask)
            return;
        break;
    }
    RawSocket::closeSocket(s);
}

int GeneralSocket::dealHttpGetFile(int s, const HttpRequest::Head &head)
{
    const HttpRequest::FilePath path = HttpRequest::parseFilePath(head.header.target());
    auto notFound = [s](int code) {
        ClientRegistry::sendHttpFile(9, s);
        return code;
    };
    if (path.tooLong)
        return notFound(Ret::FileLineTooLong);
    if (!path.ok)
        return notFound(Ret::FileNotFound);

    QString base;
    QString relative = path.relative;
    switch (path.place) {
    case HttpRequest::Place::ServiceCfg:
        base = m_strAppDir + QStringLiteral("/Cfg");
        relative = relative.mid(4);
        break;
    case HttpRequest::Place::Style:
        base = m_strWebRoot + QLatin1Char('/') + path.style;
        if (HttpRequest::holdsFolder(base, m_strAppDir))
            return notFound(Ret::FileNotFound);
        break;
    case HttpRequest::Place::Web:
        base = m_strWebRoot + QStringLiteral("/Web");
        break;
    }
    const QString fileName = base + QLatin1Char('/') + relative;

    // The page's "common.js" is served by the update check, which installs a
    // newer page first when the web-file server has one.
    if (path.place != HttpRequest::Place::ServiceCfg
        && relative.section(QLatin1Char('/'), -1) == QLatin1String("common.js")) {
        auto *task = new CCheckUpdateStateTask;
        task->setParams(m_strWebRoot, s, path.style, fileName, m_strAppDir);
        QThreadPool::globalInstance()->start(task);
        return Ret::FileHandedToTask;
    }

    const QFileInfo info(fileName);
    if (!info.exists())
        return notFound(Ret::FileNotFound);
    const QString real = HttpRequest::confinedPath(fileName, base);
    if (real.isEmpty())
        return notFound(Ret::FileNotFound);
    if (!QFileInfo(real).isFile())
        return notFound(Ret::FileNotRegular);
    const int type = ClientRegistry::fileTypeOfPath(path.typePath);
    return ClientRegistry::sendHttpFileChecked(real, type, s) == 0 ? Ret::Ok : Ret::FileSendFailed;
}

int GeneralSocket::sessionCount() const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    return int(m_sessions.size());
}

std::shared_ptr<RawWsConnection> GeneralSocket::session(int sessionId) const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    const auto it = m_sessions.find(sessionId);
    return it == m_sessions.end() ? nullptr : it->second;
}

int GeneralSocket::webSocketHandshake(int s, const HttpRequest::Head &head)
{
    if (!head.header.hasField("sec-websocket-key"))
        return Ret::RawNoKey;
    const QByteArray key = QByteArray::fromStdString(head.header.field("sec-websocket-key")).trimmed();
    if (!WsFrame::validClientKey(key))
        return Ret::RawBadKey;
    const QByteArray reply
        = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: "
        + WsFrame::acceptKey(key) + "\r\n\r\n";
    return ClientRegistry::sendData(s, reply.constData(), reply.size(), 3) == reply.size()
        ? Ret::Ok
        : Ret::RawSendFailed;
}

void GeneralSocket::joinFinishedThreads()
{
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        for (int id : m_finishedThreads) {
            const auto it = m_clientThreads.find(id);
            if (it == m_clientThreads.end())
                continue;
            done.push_back(std::move(it->second));
            m_clientThreads.erase(it);
        }
        m_finishedThreads.clear();
    }
    for (std::thread &thread : done)
        thread.join();
}

int GeneralSocket::dealWebSocketConnect(int s, const HttpRequest::Head &head, const QByteArray &early)
{
    joinFinishedThreads();
    ClientRegistry *registry = ClientRegistry::instance();
    const int added = registry->addClient(s, nullptr);
    if (added == -1)
        return Ret::RawTooManyClients;
    if (added < 0)
        return Ret::RawNoMemory;
    const int handshake = webSocketHandshake(s, head);
    if (handshake != Ret::Ok) {
        registry->removeClient(s);
        return handshake;
    }

    // The session exists, key record included, before its thread starts and
    // before a later control request can look it up.
    std::shared_ptr<RawWsConnection> connection;
    QString wndText;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        const int id = registry->takeSessionId();
        connection = std::make_shared<RawWsConnection>(s, id);
        m_sessions[id] = connection;
        m_nCurClientId = id;
        wndText = m_strWndID;
    }
    const int id = connection->sessionId();
    try {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        m_clientThreads[id] = std::thread([this, connection, wndText, early]() mutable {
            recvClientMsg(std::move(connection), wndText, early);
        });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(m_sessionMutex);
            m_sessions.erase(id);
        }
        registry->removeClient(s);
        connection->shutdown();
        return Ret::RawThreadFailed;
    }
    return Ret::Ok;
}

void GeneralSocket::recvClientMsg(
    std::shared_ptr<RawWsConnection> connection, QString wndText, QByteArray early)
{
    const int id = connection->sessionId();
    try {
        emit sigNewGeneralSocketConnect(id, wndText);
        WsFrameParser parser;
        parser.feed(early.constData(), early.size());
        char chunk[65536];
        bool open = true;
        while (open && !m_bStop) {
            WsFrameParser::Event event;
            while (open && parser.next(&event)) {
                switch (event.kind) {
                case WsFrameParser::Event::Message:
                    // Binary messages carry nothing for the player.
                    if (event.opcode == WsFrame::Text)
                        dealWebSocketText(*connection, event.data);
                    break;
                case WsFrameParser::Event::Ping:
                    connection->sendFrame(WsFrame::Pong, event.data);
                    break;
                case WsFrameParser::Event::Pong:
                    break;
                case WsFrameParser::Event::Close:
                    connection->sendFrame(WsFrame::Close,
                        event.code == 1005 ? QByteArray() : WsFrame::buildClose(event.code).mid(2));
                    open = false;
                    break;
                case WsFrameParser::Event::Error:
                    connection->sendFrame(WsFrame::Close, WsFrame::buildClose(event.code).mid(2));
                    open = false;
                    break;
                }
            }
            if (!open || connection->isClosed())
                break;
            const RawSocket::Wait wait = RawSocket::waitReadable(connection->socket(), 1000);
            if (wait == RawSocket::Wait::Timeout)
                continue;
            if (wait == RawSocket::Wait::Failed)
                break;
            const ssize_t n = RawSocket::receiveSome(connection->socket(), chunk, sizeof chunk);
            if (n == -2)
                continue;
            if (n <= 0)
                break;
            parser.feed(chunk, int(n));
        }
    } catch (...) {
        // Out of memory in this session: it ends like a broken connection.
    }
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_sessions.erase(id);
    }
    connection->shutdown();
    emit sigDestoryNamedPipe(id);
    ClientRegistry::instance()->removeClient(connection->socket());
    // The socket closes with the last reference; a sender that still holds
    // one finds the connection closed.
    connection.reset();
    std::lock_guard<std::mutex> lock(m_threadMutex);
    m_finishedThreads.push_back(id);
    m_threadEnded.notify_all();
}

void GeneralSocket::dealWebSocketText(const RawWsConnection &connection, const QByteArray &payload)
{
    const QByteArray text = connection.pageText(payload);
    if (!session(connection.sessionId()))
        return;
    emit sigSendGeneralSocketMsg(text, connection.sessionId());
}

void GeneralSocket::onSendMsg(QByteArray msg, int sessionID)
{
    const std::shared_ptr<RawWsConnection> connection = session(sessionID);
    if (!connection)
        return;
    try {
        Json::Value root;
        if (JsonUtil::parse(msg.toStdString(), &root)) {
            const Json::Value &upgrade = JsonUtil::member(root, "IsUpgrade");
            if (!upgrade.isNull()) {
                bool flag = false;
                if (upgrade.isBool())
                    flag = upgrade.asBool();
                else if (JsonUtil::isIntLike(upgrade))
                    flag = upgrade.asInt() != 0;
                connection->setUpgrade(flag);
            }
        }
        if (!msg.isEmpty())
            connection->sendText(msg);
    } catch (...) {
        // A player message that cannot be handled is lost; the session goes on.
    }
}

void GeneralSocket::onPlayerLost(int sessionID)
{
    const std::shared_ptr<RawWsConnection> connection = session(sessionID);
    if (!connection)
        return;
    connection->sendFrame(WsFrame::Close, WsFrame::buildClose(WsFrame::ServerError).mid(2));
    connection->shutdown();
}
