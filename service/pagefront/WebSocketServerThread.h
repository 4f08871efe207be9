#pragma once

#include "PageFrontEnd.h"
#include "PageSession.h"
#include "common/LinkFrame.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <json/value.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>

class DiySteps;
class QAbstractSocket;
class QProcess;
class QThread;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The service's WebSocket front end for pages: a Qt WebSocket server on the
// loopback address, on the first free port of its range, running in a thread
// of its own or on the service's main thread. Every accepted page is a
// session with an id from the shared counter; its text goes to the session's
// player, the player's messages come back, encrypted once the session has a
// key. MainType 201 (firmware
// customising) is answered here instead of being relayed.
class WebSocketServerThread : public QObject, public PageFrontEnd
{
    Q_OBJECT

public:
    static constexpr int kFirstPort = 54466;
    static constexpr int kLastPort = 54475;
    // Largest page message accepted, the largest the player link carries;
    // a longer one closes the connection with 1009.
    static constexpr qint64 kMaxPageMessage = LinkFrame::kMaxPayload;
    // Sessions at once; a connection over this is closed with 1013.
    static constexpr int kMaxSessions = 64;
    // Bytes a page may leave unread before its session is ended.
    static constexpr qint64 kMaxUnsentBytes = kMaxQueuedBytes;
    // How long the thread looks for a page's next request after answering
    // before it sleeps.
    static constexpr int kPollBeforeSleepUs = 100;

    static WebSocketServerThread *instance();
    static void releaseInstance();

    // Where the server runs: on a thread of its own, or on the thread that
    // makes it (the service's main thread, where the player links are, so
    // that a page message reaches its player without a hand-over between
    // threads).
    enum class Placement { OwnThread, CallerThread };

    // Listens on the first free port of firstPort..lastPort and, when that
    // works, moves itself to its own thread (with Placement::OwnThread).
    // Check isListening() afterwards: with no free port the object is inert.
    explicit WebSocketServerThread(
        int firstPort = kFirstPort, int lastPort = kLastPort, Placement placement = Placement::OwnThread);
    ~WebSocketServerThread() override;

    bool isListening() const { return m_listeningPort != 0; }
    int port() const { return m_listeningPort; }

    // Tries `port` and each port above it up to the last of the range; 1 on
    // success (the registry learns the port), 0 when none is free.
    int listenFromPort(int port);

    // Closes every session and ends the thread (if it has one); called from
    // the thread that created the object, before deleting it.
    void stop();

    // The rest is for the server's thread only.
    // The page-session record of an open session (id, key, cipher), null
    // for a session this server does not hold.
    std::shared_ptr<PageSession> pageSession(int nSessionID) const;
    int sessionCount() const { return int(m_pageSockets.size()); }
    // Remembers the file-chooser process of a session; it is ended when the
    // page leaves.
    void trackChooser(int nSessionID, QProcess *process);

signals:
    // A page message for the session's player.
    void recvMsgSig(QByteArray msg, int nSessionID);
    void disconnectWebsocketSig(int nSessionID);
    void newConnectionSig(int nSessionID, QString WndID);

public slots:
    void onNewConnection();
    // A player message for one of this server's sessions; encrypted for the
    // page once the session has its key.
    void onSendMsg(QByteArray msg, int nSessionID) override;
    void onCloseWebSocket(int nSessionID);
    // The session's player is gone: the page is closed with 1011, so that it
    // can come back and get a new one.
    void onPlayerLost(int nSessionID) override;
    // The browser window handle text for the next session accepted.
    void onEmbedBrwoseWndID(QString strWndName);

private:
    void onTextMessage(const QString &text, int nSessionID);
    void onSocketDisconnected(int nSessionID);
    // Closes the page with `code` and forgets the session; `tellPlayer`
    // ends its player link as a closing page does.
    void endSession(int nSessionID, int code, bool tellPlayer);
    // Ends the session of a page that has more than kMaxUnsentBytes unread.
    void checkUnsent(int nSessionID, QWebSocket *socket);
    // Wipes and forgets the session's record.
    void dropPageSession(int nSessionID);
    void onMainMsgDiyFirmware(const QString &msg, int nSessionID);
    int diyWriteConfig(const Json::Value &request, int nSessionID);
    // Starts the save-as chooser; a failure code when it could not.
    int diyPrepareProduce(const Json::Value &request, int nSessionID, Json::Value *reply);
    void onDiyProgramChosen(int nSessionID, Json::Value reply, bool chosen, const QString &path);
    void onDiyLogoChosen(int nSessionID, Json::Value reply, int logoType, bool chosen, const QString &path);
    void finishDiyReply(int nSessionID, Json::Value *reply, const char *function);
    // Starts the file chooser for a session; `done` gets whether it ended
    // normally with code 0 and what it printed. It is not called when the page
    // has left meanwhile.
    void startDiyChooser(
        int nSessionID, const QStringList &arguments, std::function<void(bool, const QString &)> done);
    // The firmware customiser's record and folders of a session that ended.
    void dropDiySession(int nSessionID);
    // A chooser's answer: `work` runs on a worker, then `reply` goes to the
    // page (at once, without work, when `answerAtOnce`). Meanwhile the page's
    // messages wait, and are handled in order afterwards.
    void runDiyStep(int nSessionID, const char *function, std::shared_ptr<Json::Value> reply,
        std::function<void()> work, bool answerAtOnce);
    bool holdWhileDiyStep(const QString &text, int nSessionID);
    void releaseDiyHeld(int nSessionID);
    void sendToPage(int nSessionID, const QByteArray &text);
    // Every text for a page goes out here, flushed at once with `flush`. The
    // session may end inside (a write that finds the connection gone, a page
    // over the unsent bound): callers keep nothing of it across the call.
    void sendText(int nSessionID, const QString &text, bool flush);
    // The TCP connection under a page's socket, null when it is not found.
    QAbstractSocket *connectionOf(QWebSocket *socket) const;
    // The page's connection is looked at a while after an answer is sent.
    void watchPage(int nSessionID, const QAbstractSocket *connection);
    void unwatchPage(int nSessionID);
    void closeAll();

    QWebSocketServer *m_server = nullptr;
    // Gives the memory of large messages back to the system once they are
    // handled, rather than keeping the peak for the service's life.
    QTimer *m_trimTimer = nullptr;
    QThread *m_thread = nullptr;
    int m_lastPort;
    int m_listeningPort = 0;
    bool m_stopped = false;
    std::map<int, QPointer<QWebSocket>> m_pageSockets;
    std::map<int, QString> m_windowNames;
    std::map<int, int> m_pageFds; // descriptors of the pages' connections, by session
    struct Chooser
    {
        QPointer<QProcess> process;
        bool ended = false; // ended because the page left: its answer is not sent
    };
    // The session's most recent file chooser.
    std::map<int, Chooser> m_browseProcesses;
    std::map<int, std::shared_ptr<PageSession>> m_pageSessions;

    // Firmware customising steps (WebSocketDiyFirmware.cpp): their workers (a
    // child, made on first use) and the messages of pages waiting for one.
    static constexpr qint64 kMaxHeldBytes = kMaxQueuedBytes;
    DiySteps *m_diySteps = nullptr;
    struct HeldMessages
    {
        std::deque<QString> texts;
        qint64 bytes = 0;
        bool ending = false; // over the bound: the session ends
    };
    std::map<int, HeldMessages> m_diyHeld;
};
