#include "GeneralSocket.h"

#include "ClientRegistry.h"
#include "HttpReply.h"
#include "LocalControl.h"
#include "PageFileServer.h"
#include "RawSessions.h"
#include "RawSocket.h"
#include "RawWsConnection.h"
#include "RequestTasks.h"
#include "ServiceLog.h"
#include "UpdateChecks.h"
#include "WorkLane.h"
#include "WsFrame.h"
#include "common/Json.h"
#include "common/ProgramDir.h"
#include "common/Protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/socket.h>

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
    , m_wakeup(std::make_unique<RawSocket::Wakeup>())
    , m_checkLane(std::make_unique<WorkLane>(kMaxUpdateChecks, kMaxUpdateChecks))
    , m_outsideLane(std::make_unique<WorkLane>(kOutsideWorkers, kMaxOutsideRequests))
    , m_relayLane(std::make_unique<WorkLane>(4, kMaxRelays))
{
    m_updateChecks = std::make_unique<UpdateChecks>(*m_checkLane, m_strWebRoot, m_strAppDir,
        [this](int socket, QByteArray head, std::unique_ptr<QFile> file, qint64 size) {
            deliver(socket, std::move(head), std::move(file), size);
        });
    m_pageFiles = std::make_unique<PageFileServer>(m_strWebRoot, m_strAppDir, *m_updateChecks);
    m_rawSessions = std::make_unique<RawSessions>(*this);
    m_localControl = std::make_unique<LocalControl>(*this, *m_rawSessions, *m_relayLane, *m_outsideLane,
        [this](int socket, const QByteArray &reply) { deliver(socket, reply, nullptr, 0); });
}

void GeneralSocket::stop()
{
    m_bStop = true;
    m_wakeup->notify();
    m_checkLane->stop();
    m_outsideLane->stop();
    m_relayLane->stop();
    m_rawSessions->closeAll();
}

GeneralSocket::~GeneralSocket()
{
    // The sessions' threads and the relays may each be waiting for a page
    // message to be taken by the GUI thread; when that is this thread, its
    // events are handled while it waits for them.
    const bool ownThread
        = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    const auto handleEvents = [ownThread] {
        if (ownThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    stop();
    while (!wait(ownThread ? 20 : ULONG_MAX)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    m_runEnded.load(std::memory_order_acquire);
    const int listener = m_listenSocket.exchange(-1);
    if (listener >= 0)
        RawSocket::closeSocket(listener);
    m_port = 0;
    // The lanes' waits are cancelled: their jobs end at once, and what they
    // deliver now is closed.
    m_checkLane->join(handleEvents);
    m_outsideLane->join(handleEvents);
    m_relayLane->join(handleEvents);

    m_rawSessions->closeAll();
    m_rawSessions->join(handleEvents);
}

bool GeneralSocket::listen()
{
    if (m_listenSocket.load() >= 0)
        return true;
    int port = 0;
    // Connections wait in the listener's backlog only while the loop takes
    // the ones before them: as many as the system allows.
    const int s = RawSocket::listenLoopback(m_firstPort, m_lastPort, &port, RawSocket::systemBacklog());
    if (s < 0) {
        qDebug("Bind error: no free port in %d..%d", m_firstPort, m_lastPort);
        return false;
    }
    // The accept loop polls the listener and takes what is pending.
    RawSocket::setNonBlocking(s);
    qDebug("Bind Port:%d", port);
    m_listenSocket = s;
    m_port = port;
    return true;
}

void GeneralSocket::run()
{
    struct Ended
    {
        std::atomic<bool> &flag;
        ~Ended() { flag.store(true, std::memory_order_release); }
    } ended { m_runEnded };
    if (m_bStop || !listen())
        return;
    using Clock = HttpConnection::Clock;
    const int listener = m_listenSocket.load();
    std::vector<std::unique_ptr<HttpConnection>> connections;
    // When the loop ends, what is still pending is given up (an upgrade on
    // its way gives back its place among the raw sessions).
    struct GiveUp
    {
        GeneralSocket &server;
        std::vector<std::unique_ptr<HttpConnection>> &pending;
        ~GiveUp()
        {
            for (const auto &c : pending)
                c->finish();
            // What the lanes deliver from now on is closed unanswered.
            std::vector<Delivered> left;
            {
                std::lock_guard<std::mutex> lock(server.m_deliveredMutex);
                server.m_loopEnded = true;
                left.swap(server.m_delivered);
            }
            for (const Delivered &d : left)
                RawSocket::closeSocket(d.socket);
        }
    } giveUp { *this, connections };
    std::vector<pollfd> fds;
    // Out of descriptors: accepting pauses for a moment rather than spinning.
    Clock::time_point acceptPausedUntil;
    while (!m_bStop) {
        Clock::time_point now = Clock::now();
        takeDelivered(&connections);
        // Connections whose time is up: a request with its head is handled
        // with what came; anything else is given up.
        for (const auto &c : connections) {
            if (now < c->deadline())
                continue;
            if (c->state() == HttpConnection::State::Reading && c->hasHead())
                DealClientMsg(*c);
            else
                c->finish();
        }
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                              [](const std::unique_ptr<HttpConnection> &c) {
                                  return c->state() == HttpConnection::State::Finished
                                      || c->state() == HttpConnection::State::Handed;
                              }),
            connections.end());

        // With every place taken, a new connection takes the place of the
        // one that has waited longest without a whole request head (the
        // vector is in the order of acceptance): no client keeps the others
        // out by holding places, however fast it reconnects.
        const auto oldestWithoutHead = [&connections] {
            return std::find_if(connections.begin(), connections.end(),
                [](const auto &c) { return c->state() == HttpConnection::State::Reading && !c->hasHead(); });
        };
        const bool accepting = now >= acceptPausedUntil
            && (int(connections.size()) < kMaxConnections || oldestWithoutHead() != connections.end());
        fds.clear();
        fds.push_back({ m_wakeup->fd(), POLLIN, 0 });
        fds.push_back({ accepting ? listener : -1, POLLIN, 0 });
        Clock::time_point next = accepting ? Clock::time_point::max() : acceptPausedUntil;
        for (const auto &c : connections) {
            fds.push_back({ c->socket(), c->pollEvents(), 0 });
            next = std::min(next, c->deadline());
        }
        int timeoutMs = 1000;
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            timeoutMs = int(qBound<qint64>(0, left, 1000));
        }
        if (::poll(fds.data(), nfds_t(fds.size()), timeoutMs) < 0 && errno != EINTR)
            return;
        now = Clock::now();
        if (fds[0].revents)
            m_wakeup->clear();

        // Only the connections polled just now: new ones follow them.
        const size_t polled = connections.size();
        for (size_t i = 0; i < polled; ++i) {
            HttpConnection &c = *connections[i];
            const short revents = fds[i + 2].revents;
            if (!revents)
                continue;
            if (c.state() == HttpConnection::State::Reading && (revents & ~POLLOUT)) {
                if (c.receive(now))
                    DealClientMsg(c);
            }
            if (revents & (POLLOUT | POLLERR | POLLHUP))
                c.send(now);
        }
        // Replies the lanes finished meanwhile go out from the next turn on.
        takeDelivered(&connections);
        if (fds[1].revents) {
            // At most a place's worth per turn: the connections already
            // taken are read before more come in.
            for (int taken = 0; taken < kMaxConnections; ++taken) {
                const int s = RawSocket::acceptPending(listener);
                if (s == -3) {
                    acceptPausedUntil = now + std::chrono::milliseconds(100);
                    break;
                }
                if (s == -1)
                    return;
                if (s < 0)
                    break;
                connections.push_back(std::make_unique<HttpConnection>(s, now));
                // A request that came with the connection is taken now, so
                // that its connection is no longer one without a head.
                HttpConnection &c = *connections.back();
                if (c.receive(now))
                    DealClientMsg(c);
                if (int(connections.size()) <= kMaxConnections)
                    continue;
                const auto oldest = oldestWithoutHead();
                if (oldest == connections.end())
                    break;
                (*oldest)->finish();
                connections.erase(oldest);
            }
        }
    }
}

void GeneralSocket::DealClientMsg(HttpConnection &c)
{
    try {
        if (c.scan() == HttpRequest::Scan::Bad) {
            c.reply(HttpReply::httpTextReply("", 0, 400));
        } else if (c.hasHead()) {
            // A head that never ended is no request; one whose body was cut
            // short is still handled with what came.
            switch (HttpRequest::classify(c.head().header)) {
            case HttpRequest::Kind::NotHttp:
                break;
            case HttpRequest::Kind::Preflight:
                c.reply(QByteArray(kPreflightReply, int(sizeof kPreflightReply - 1)));
                break;
            case HttpRequest::Kind::Control: {
                const HttpRequest::Head &head = c.head();
                const LocalControl::Outcome outcome = m_localControl->handle(
                    c.request().mid(head.headLength, head.contentLength > 0 ? head.contentLength : -1),
                    c.socket());
                if (outcome.taken)
                    c.handOver();
                else if (!outcome.reply.isEmpty())
                    c.reply(outcome.reply);
                break;
            }
            case HttpRequest::Kind::WebSocket:
                dealWebSocketConnect(c);
                break;
            case HttpRequest::Kind::File: {
                PageFileServer::Reply reply = m_pageFiles->serve(c.head().header.target(), c.socket());
                if (reply.taken) {
                    c.handOver();
                } else if (!reply.head.isEmpty()) {
                    c.reply(reply.head);
                    if (reply.file)
                        c.replyFile(std::move(reply.file), reply.size);
                }
                break;
            }
            }
        }
    } catch (...) {
        // Out of memory in a request: that connection is dropped, the
        // server goes on.
        c.finish();
        return;
    }
    if (c.state() == HttpConnection::State::Reading)
        c.finish();
    else
        c.send(HttpConnection::Clock::now());
}

void GeneralSocket::deliver(int socket, QByteArray head, std::unique_ptr<QFile> file, qint64 size)
{
    {
        std::lock_guard<std::mutex> lock(m_deliveredMutex);
        if (!m_loopEnded && !head.isEmpty()) {
            try {
                m_delivered.push_back(Delivered { socket, std::move(head), std::move(file), size });
                m_wakeup->notify();
                return;
            } catch (...) {
                // Out of memory: the page is closed unanswered.
            }
        }
    }
    RawSocket::closeSocket(socket);
}

void GeneralSocket::takeDelivered(std::vector<std::unique_ptr<HttpConnection>> *connections)
{
    std::vector<Delivered> taken;
    {
        std::lock_guard<std::mutex> lock(m_deliveredMutex);
        taken.swap(m_delivered);
    }
    const HttpConnection::Clock::time_point now = HttpConnection::Clock::now();
    for (Delivered &d : taken) {
        try {
            auto c = std::make_unique<HttpConnection>(d.socket, now);
            d.socket = -1;
            c->reply(d.head);
            if (d.file)
                c->replyFile(std::move(d.file), d.size);
            connections->push_back(std::move(c));
        } catch (...) {
            if (d.socket >= 0)
                RawSocket::closeSocket(d.socket);
        }
    }
}

int GeneralSocket::webSocketHandshake(const HttpRequest::Head &head, QByteArray *reply)
{
    if (!head.header.hasField("sec-websocket-key"))
        return Ret::RawNoKey;
    const QByteArray key = QByteArray::fromStdString(head.header.field("sec-websocket-key")).trimmed();
    if (!WsFrame::validClientKey(key))
        return Ret::RawBadKey;
    *reply = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
             "Sec-WebSocket-Accept: "
        + WsFrame::acceptKey(key) + "\r\n\r\n";
    return Ret::Ok;
}

int GeneralSocket::dealWebSocketConnect(HttpConnection &c)
{
    m_rawSessions->joinFinished();
    ClientRegistry *registry = ClientRegistry::instance();
    const int s = c.socket();
    const int added = registry->addClient(s, nullptr);
    if (added == -1)
        return Ret::RawTooManyClients;
    if (added < 0)
        return Ret::RawNoMemory;
    QByteArray reply;
    const int handshake = webSocketHandshake(c.head(), &reply);
    if (handshake != Ret::Ok) {
        registry->removeClient(s);
        return handshake;
    }
    // The session starts once the page has the whole answer; bytes it sent
    // right behind its request belong to the session.
    const HttpRequest::Head &head = c.head();
    const QByteArray early = c.request().mid(head.headLength + head.contentLength);
    HttpConnection *connection = &c;
    c.reply(reply);
    RawSessions *sessions = m_rawSessions.get();
    c.setReplyActions([sessions, connection, early] { sessions->start(connection->handOver(), early); },
        [registry, s] { registry->removeClient(s); });
    return Ret::Ok;
}

int GeneralSocket::sessionCount() const
{
    return m_rawSessions->count();
}

void GeneralSocket::onSendMsg(QByteArray msg, int sessionID)
{
    m_rawSessions->sendToPage(msg, sessionID);
}

void GeneralSocket::onPlayerLost(int sessionID)
{
    m_rawSessions->playerLost(sessionID);
}
