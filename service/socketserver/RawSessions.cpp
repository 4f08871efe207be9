// Raw WebSocket sessions of the socket server: a thread each, its loop and
// its closing states.
#include "RawSessions.h"

#include "ClientRegistry.h"
#include "GeneralSocket.h"
#include "RawSocket.h"
#include "RawWsConnection.h"
#include "ServiceLog.h"
#include "WsFrame.h"
#include "common/Json.h"
#include "common/Protocol.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

RawSessions::RawSessions(GeneralSocket &owner)
    : m_owner(owner)
{ }

RawSessions::~RawSessions()
{
    closeAll();
    join({});
}

void RawSessions::closeAll()
{
    m_stopping = true;
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    for (const auto &entry : m_sessions)
        entry.second->requestClose(WsFrame::GoingAway);
}

void RawSessions::join(const std::function<void()> &whileWaiting)
{
    for (;;) {
        std::unique_lock<std::mutex> lock(m_threadMutex);
        if (m_finishedThreads.size() == m_clientThreads.size())
            break;
        if (whileWaiting) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
        m_threadEnded.wait_for(lock, std::chrono::milliseconds(20));
    }
    joinFinished();
}

std::shared_ptr<RawWsConnection> RawSessions::latest() const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    const auto it = m_sessions.find(m_nCurClientId);
    return it == m_sessions.end() ? nullptr : it->second;
}

void RawSessions::setWindowText(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    m_strWndID = text;
}

int RawSessions::count() const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    return int(m_sessions.size());
}

std::shared_ptr<RawWsConnection> RawSessions::session(int sessionId) const
{
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    const auto it = m_sessions.find(sessionId);
    return it == m_sessions.end() ? nullptr : it->second;
}

void RawSessions::joinFinished()
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

int RawSessions::start(int s, const QByteArray &early)
{
    ClientRegistry *registry = ClientRegistry::instance();
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
        // The socket closes with the connection.
        return Ret::RawThreadFailed;
    }
    return Ret::Ok;
}

void RawSessions::recvClientMsg(
    std::shared_ptr<RawWsConnection> connection, QString wndText, QByteArray early)
{
    using Clock = std::chrono::steady_clock;
    const int id = connection->sessionId();
    const int s = connection->socket();
    try {
        emit m_owner.sigNewGeneralSocketConnect(id, wndText);
        WsFrameParser parser;
        parser.feed(early.constData(), early.size());
        char chunk[65536];
        // The closing handshake. A page that closes gets its close frame
        // echoed and the connection ends once that is out. When the session
        // closes the page, the page's frames are still read until its own
        // close frame comes (after a malformed frame, its bytes are only
        // dropped) or it ends the connection: it gets the close frame rather
        // than a reset connection. Either way at most kClosingMs.
        enum class Closing { No, AfterEcho, AwaitPage, Discard };
        Closing closing = Closing::No;
        bool writeShut = false;
        Clock::time_point closeBy;
        auto beginClose = [&](const QByteArray &payload, Closing how) {
            connection->queueFrame(WsFrame::Close, payload);
            closing = how;
            closeBy = Clock::now() + std::chrono::milliseconds(GeneralSocket::kClosingMs);
        };
        bool pageDone = false;
        while (!pageDone && !connection->aborted()) {
            WsFrameParser::Event event;
            while ((closing == Closing::No || closing == Closing::AwaitPage) && parser.next(&event)) {
                if (closing == Closing::AwaitPage) {
                    pageDone = event.kind == WsFrameParser::Event::Close
                        || event.kind == WsFrameParser::Event::Error;
                    if (pageDone)
                        break;
                    continue;
                }
                switch (event.kind) {
                case WsFrameParser::Event::Message:
                    // Binary messages carry nothing for the player.
                    if (event.opcode == WsFrame::Text)
                        dealWebSocketText(*connection, event.data);
                    break;
                case WsFrameParser::Event::Ping:
                    connection->queueFrame(WsFrame::Pong, event.data);
                    break;
                case WsFrameParser::Event::Pong:
                    break;
                case WsFrameParser::Event::Close:
                    beginClose(event.code == 1005 ? QByteArray() : WsFrame::buildClose(event.code).mid(2),
                        Closing::AfterEcho);
                    break;
                case WsFrameParser::Event::Error:
                    beginClose(WsFrame::buildClose(event.code).mid(2), Closing::Discard);
                    break;
                }
            }
            if (pageDone)
                break;
            if (closing == Closing::No) {
                const int code = m_stopping ? int(WsFrame::GoingAway) : connection->closeRequested();
                if (code != 0)
                    beginClose(WsFrame::buildClose(code).mid(2), Closing::AwaitPage);
            }
            if (connection->aborted() || !connection->flush())
                break;
            if (closing != Closing::No) {
                if (!connection->hasOutput()) {
                    if (closing == Closing::AfterEcho)
                        break;
                    if (!writeShut)
                        ::shutdown(s, SHUT_WR);
                    writeShut = true;
                }
                if (Clock::now() >= closeBy)
                    break;
            }

            pollfd fds[2] = { { s, short(POLLIN | (connection->hasOutput() ? POLLOUT : 0)), 0 },
                { connection->wakeFd(), POLLIN, 0 } };
            int timeoutMs = 1000;
            if (closing != Closing::No)
                timeoutMs = int(qBound<qint64>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(closeBy - Clock::now()).count(), 1000));
            if (::poll(fds, 2, timeoutMs) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents)
                connection->clearWake();
            if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = RawSocket::receiveSome(s, chunk, sizeof chunk);
            if (n == -2)
                continue;
            if (n <= 0)
                break;
            if (closing == Closing::No || closing == Closing::AwaitPage)
                parser.feed(chunk, int(n));
        }
    } catch (...) {
        // Out of memory in this session: it ends like a broken connection.
    }
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_sessions.erase(id);
    }
    connection->abort();
    RawSocket::shutdownSocket(s);
    emit m_owner.sigDestoryNamedPipe(id);
    ClientRegistry::instance()->removeClient(s);
    // The socket closes with the last reference; a sender that still holds
    // one finds the session ended.
    connection.reset();
    std::lock_guard<std::mutex> lock(m_threadMutex);
    m_finishedThreads.push_back(id);
    m_threadEnded.notify_all();
}

void RawSessions::dealWebSocketText(const RawWsConnection &connection, const QByteArray &payload)
{
    // A text that does not decrypt reaches the player empty.
    QByteArray text;
    connection.page().textFromPage(payload, &text);
    if (!session(connection.sessionId()))
        return;
    emit m_owner.sigSendGeneralSocketMsg(text, connection.sessionId());
}

void RawSessions::sendToPage(const QByteArray &msg, int sessionID)
{
    const std::shared_ptr<RawWsConnection> connection = session(sessionID);
    if (!connection)
        return;
    try {
        // Only a message that names the flag is parsed: this thread serves
        // every client, and most player messages (pictures' sizes, events,
        // device settings of any size) do not carry it.
        Json::Value root;
        if (msg.contains("IsUpgrade") && JsonUtil::parse(msg.toStdString(), &root)) {
            const Json::Value &upgrade = JsonUtil::member(root, "IsUpgrade");
            if (!upgrade.isNull()) {
                bool flag = false;
                if (upgrade.isBool())
                    flag = upgrade.asBool();
                else if (JsonUtil::isIntLike(upgrade))
                    flag = upgrade.asInt() != 0;
                connection->page().setUpgrade(flag);
            }
        }
        if (msg.isEmpty())
            return;
        const qint64 unsent = connection->unsentBytes();
        if (connection->sendText(msg) == RawWsConnection::Queued::Overflow)
            serviceLog("RawSessions::onSendMsg",
                QStringLiteral("session %1 ended: its page left %2 bytes unread").arg(sessionID).arg(unsent),
                ServiceLog::Warning);
    } catch (...) {
        // A player message that cannot be handled is lost; the session goes on.
    }
}

void RawSessions::playerLost(int sessionID)
{
    const std::shared_ptr<RawWsConnection> connection = session(sessionID);
    if (connection)
        connection->requestClose(WsFrame::ServerError);
}
