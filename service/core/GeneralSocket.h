#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Json {
class Value;
}
class RawWsConnection;

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
// The accept loop and the first request of each connection run on this
// thread, one connection after the other.
class GeneralSocket : public QThread
{
    Q_OBJECT

public:
    static constexpr int kFirstPort = 54455;
    static constexpr int kLastPort = 54465;
    // How long a connection may stay silent before its request is given up.
    static constexpr int kRequestWaitMs = 3000;

    static GeneralSocket *instance();
    static void releaseInstance();

    // `appDir` is the service's folder; the web root is its parent.
    explicit GeneralSocket(const QString &appDir, int firstPort = kFirstPort, int lastPort = kLastPort,
        QObject *parent = nullptr);
    // Stops the accept loop and waits for it.
    ~GeneralSocket() override;

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
    // A player message; sent only when the session is one of this server's.
    void onSendMsg(QByteArray msg, int sessionID);
    // The session's player is gone: the page is closed with 1011; its
    // receive thread then ends the session.
    void onPlayerLost(int sessionID);

protected:
    void run() override;

private:
    void DealClientMsg(int s);
    // Reads the request until its head and body are whole, the peer stops
    // sending for kRequestWaitMs, or the connection ends.
    HttpRequest::Scan gatherRequest(int s, QByteArray *request, HttpRequest::Head *head);
    // Ret::Ok or one of the Ret::File codes; the socket stays open only after Ret::FileHandedToTask.
    int dealHttpGetFile(int s, const HttpRequest::Head &head);

    // Ret::Ok when the session runs (its thread owns the socket), else
    // one of the Ret::Raw codes, and the caller closes the socket.
    // -2 (answered 400), 1 (answered or ignored) or 2 (a request task owns
    // the socket).
    int dealWebLocalCtrl(int s, const QByteArray &request, const HttpRequest::Head &head);
    // The foreground window when its title contains `title`, else 0.
    static quint64 getBrowserWndByTitle(int browseType, const QString &title);

    int dealWebSocketConnect(int s, const HttpRequest::Head &head, const QByteArray &early);
    int webSocketHandshake(int s, const HttpRequest::Head &head);
    // A session's receive loop, on its own thread; `early` holds bytes that
    // came right behind the upgrade request.
    void recvClientMsg(std::shared_ptr<RawWsConnection> connection, QString wndText, QByteArray early);
    void dealWebSocketText(const RawWsConnection &connection, const QByteArray &payload);
    std::shared_ptr<RawWsConnection> session(int sessionId) const;
    void joinFinishedThreads();

    std::atomic<bool> m_bStop { false };
    QString m_strWebRoot;
    QString m_strAppDir;
    int m_firstPort;
    int m_lastPort;
    std::atomic<int> m_listenSocket { -1 };
    std::atomic<int> m_port { 0 };

    mutable std::mutex m_sessionMutex; // guards m_sessions, m_nCurClientId, m_strWndID
    std::map<int, std::shared_ptr<RawWsConnection>> m_sessions;
    int m_nCurClientId = -1; // the raw session accepted last
    QString m_strWndID;

    std::mutex m_threadMutex; // guards the three below
    std::condition_variable m_threadEnded;
    std::map<int, std::thread> m_clientThreads;
    std::vector<int> m_finishedThreads;
};
