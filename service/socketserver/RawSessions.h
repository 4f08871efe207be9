#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class GeneralSocket;
class RawWsConnection;

// The socket server's raw WebSocket sessions, each on a thread of its own
// that reads the page's frames, hands its messages on through the server's
// signals and writes what is queued for it, and closes the page in the
// WebSocket way (at most GeneralSocket::kClosingMs). Any thread may queue a
// player message or ask a session to close.
class RawSessions
{
public:
    explicit RawSessions(GeneralSocket &owner);
    // closeAll(), then join().
    ~RawSessions();
    RawSessions(const RawSessions &) = delete;
    RawSessions &operator=(const RawSessions &) = delete;

    // Starts the session of an upgraded connection: Ret::Ok, or
    // Ret::RawThreadFailed (the socket is then closed). `early` holds bytes
    // that came right behind the upgrade request.
    int start(int socket, const QByteArray &early);
    int count() const;
    std::shared_ptr<RawWsConnection> session(int sessionId) const;
    // The session started last, while it runs.
    std::shared_ptr<RawWsConnection> latest() const;
    // The browser window's handle text the next session starts with.
    void setWindowText(const QString &text);

    // A player message for the page, queued; never waits for the page.
    void sendToPage(const QByteArray &msg, int sessionID);
    // The session's player is gone: the page is closed with 1011.
    void playerLost(int sessionID);

    // Every session closes its page with 1001, now and from now on.
    void closeAll();
    // Waits until every session's thread ended, running `whileWaiting`
    // about every 20 ms (when given) meanwhile, and joins them.
    void join(const std::function<void()> &whileWaiting);
    // Joins the threads of sessions that ended.
    void joinFinished();

private:
    // A session's loop, on its own thread.
    void recvClientMsg(std::shared_ptr<RawWsConnection> connection, QString wndText, QByteArray early);
    void dealWebSocketText(const RawWsConnection &connection, const QByteArray &payload);

    GeneralSocket &m_owner;
    std::atomic<bool> m_stopping { false };

    mutable std::mutex m_sessionMutex; // guards m_sessions, m_nCurClientId, m_strWndID
    std::map<int, std::shared_ptr<RawWsConnection>> m_sessions;
    int m_nCurClientId = -1; // the raw session accepted last
    QString m_strWndID;

    std::mutex m_threadMutex; // guards the three below
    std::condition_variable m_threadEnded;
    std::map<int, std::thread> m_clientThreads;
    std::vector<int> m_finishedThreads;
};
