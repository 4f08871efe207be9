#pragma once

#include "HttpConnection.h"
#include "HttpRequest.h"
#include "PageFrontEnd.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Json {
class Value;
}
class QFile;
class LocalControl;
class PageFileServer;
class RawSessions;
class UpdateChecks;
class WorkLane;
namespace RawSocket {
class Wakeup;
}

// A parsed control request.
struct LocalCtrlRequest
{
    int MainType = 0;
    int SubType = 0;
    int Id = 0;
    int param = 0; // MainType 31: "BrowseType"; 99: the WebSocket server's port
    QByteArray text; // 1 and 33: "WebStyle"; 26: "data"; 31: "Title"
};

// The service's second front end for pages: a plain socket server on the
// loopback address, on the first free port of its range. Each accepted
// connection carries one HTTP request: CORS pre-flights get a fixed answer,
// "/Cmd-WebLocalCtrl" requests are the page's local control requests,
// WebSocket upgrades become raw WebSocket sessions on threads of their own,
// and everything else asks for a file of the page.
//
// This thread accepts connections, gathers their requests and sends the
// replies with one poll() over all of them, each connection with its own
// deadline: no client waits for another. Work that may block runs on work
// lanes of its own, each bounded and cancellable: update checks, outside
// requests (MainType 202) and relays to a player; its replies come back to
// this thread, which sends them.
class GeneralSocket : public QThread, public PageFrontEnd
{
    Q_OBJECT

public:
    static constexpr int kFirstPort = 54455;
    static constexpr int kLastPort = 54465;
    // How long a request has to arrive whole, from its first byte, and how
    // long a reply may go without progress.
    static constexpr int kRequestWaitMs = HttpConnection::kWaitMs;
    // Connections served at once; more wait in the listener's backlog.
    static constexpr int kMaxConnections = 128;
    // How long a closing raw session waits for its close frame to go out and
    // for the page to close.
    static constexpr int kClosingMs = 2000;
    // Update checks running at once. When none can start, the page's file
    // is served at once without one.
    static constexpr int kMaxUpdateChecks = 4;
    // Outside requests (MainType 202) taken at once, running and waiting,
    // and how many of them run. Over the bound a request is answered 503
    // with "Retry-After" (kRetryAfterSeconds).
    static constexpr int kMaxOutsideRequests = 64;
    static constexpr int kOutsideWorkers = 10;
    static constexpr int kRetryAfterSeconds = 1;
    // Relays of control requests to a player, taken at once; over it the
    // request is closed unanswered.
    static constexpr int kMaxRelays = 64;

    static GeneralSocket *instance();
    static void releaseInstance();

    // `appDir` is the service's folder; the web root is its parent.
    explicit GeneralSocket(const QString &appDir, int firstPort = kFirstPort, int lastPort = kLastPort,
        QObject *parent = nullptr);
    // stop(), then waits for all of it, at most about kClosingMs.
    ~GeneralSocket() override;

    // Begins the shutdown and returns at once: the accept loop ends, the
    // work lanes' waits are cancelled (their pages' sockets closed), and every
    // raw session closes its page with 1001 (each ends its player). Another
    // front end can close its pages meanwhile.
    void stop();

    // Opens the listener (run() does it when it has not been done); false
    // when no port of the range is free.
    bool listen();
    // The port listened on; 0 when not listening.
    int port() const { return m_port.load(); }
    QString webRoot() const { return m_strWebRoot; }
    QString appDir() const { return m_strAppDir; }
    // Raw WebSocket sessions running now.
    int sessionCount() const;

    // A JSON string literal of `text`: quotes, backslashes and control
    // characters escaped.
    static QByteArray jsonText(const QByteArray &text);
    // The keys of the request's MainType; false when one has the wrong type.
    static bool parseWndMsg(const Json::Value &root, LocalCtrlRequest *request);

signals:
    // A raw WebSocket session started (its player is to be started) and ended.
    void sigNewGeneralSocketConnect(int sessionID, QString WndID);
    void sigDestoryNamedPipe(int sessionID);
    // A page message for the session's player.
    void sigSendGeneralSocketMsg(QByteArray msg, int nSessionID);
    // The browser window handle text for the next session of the WebSocket server.
    void sendEmbedBrwoseWndID(QString WndName);

public slots:
    // A player message for one of this server's sessions, queued for the
    // page. Never waits for the page.
    void onSendMsg(QByteArray msg, int sessionID) override;
    // The session's player is gone: the page is closed with 1011; its
    // thread then ends the session.
    void onPlayerLost(int sessionID) override;

protected:
    void run() override;

private:
    // Classifies a request that is whole (or as whole as it will get) and
    // answers it, or hands its socket on.
    void DealClientMsg(HttpConnection &c);

    // Any thread: the reply for a socket a lane took, sent by the loop; an
    // empty head closes the socket unanswered (so does a loop that ended).
    void deliver(int socket, QByteArray head, std::unique_ptr<QFile> file, qint64 size);
    // The loop: takes what was delivered into `connections`.
    void takeDelivered(std::vector<std::unique_ptr<HttpConnection>> *connections);

    // Ret::Ok when the handshake reply is on its way (the session starts once
    // it went out), else one of the Ret::Raw codes.
    int dealWebSocketConnect(HttpConnection &c);
    // Ret::Ok with the reply, or Ret::RawNoKey / Ret::RawBadKey.
    static int webSocketHandshake(const HttpRequest::Head &head, QByteArray *reply);

    std::atomic<bool> m_bStop { false };
    // Set as run() returns: what it did is then visible to the thread that
    // waited for it, to tools that cannot see inside QThread::wait() too.
    std::atomic<bool> m_runEnded { false };
    QString m_strWebRoot;
    QString m_strAppDir;
    int m_firstPort;
    int m_lastPort;
    std::atomic<int> m_listenSocket { -1 };
    std::atomic<int> m_port { 0 };
    std::unique_ptr<RawSocket::Wakeup> m_wakeup; // wakes the accept loop to stop

    struct Delivered
    {
        int socket;
        QByteArray head;
        std::unique_ptr<QFile> file;
        qint64 size;
    };
    std::mutex m_deliveredMutex; // guards the two below
    std::vector<Delivered> m_delivered;
    bool m_loopEnded = false;

    std::unique_ptr<WorkLane> m_checkLane;
    std::unique_ptr<WorkLane> m_outsideLane;
    std::unique_ptr<WorkLane> m_relayLane;
    std::unique_ptr<UpdateChecks> m_updateChecks;
    std::unique_ptr<PageFileServer> m_pageFiles;
    std::unique_ptr<RawSessions> m_rawSessions;
    std::unique_ptr<LocalControl> m_localControl;
};
