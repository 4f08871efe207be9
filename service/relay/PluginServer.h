#pragma once

#include "PageFrontEnd.h"
#include "common/LinkFrame.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <map>

class QLocalServer;
class QLocalSocket;
class SpawnedProcess;

// Starts one player process per page session and relays the session's JSON
// messages to it and back. The players connect to a local server at a
// per-user, owner-only socket path, which travels to them as their second
// argument; each message on that link is one frame of the link format.
//
// Lives in the GUI thread. The front ends start players without waiting
// (onNewSession), so that players of pages opening at once start side by
// side; a session's messages wait until its player has connected. Each
// session is started by the front end that holds it, its owner: the player's
// messages go to that front end alone.
class PluginServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kConnectTimeoutMs = 10000;
    // Bytes a player may leave unread, or a page may send while its player
    // starts, before the session is ended.
    static constexpr qint64 kMaxUnsentBytes = PageFrontEnd::kMaxQueuedBytes;
    // How long the thread looks for a player's answer after writing a
    // request before it sleeps.
    static constexpr int kPollBeforeSleepUs = 100;

    static PluginServer *instance();
    // Ends every player and deletes the instance.
    static void releaseInstance();

    // `appDir` is the folder of the service; the players are looked for there.
    // `baseName` names the socket path, so that copies of the service under
    // different names do not meet.
    explicit PluginServer(const QString &appDir, const QString &baseName, QObject *parent = nullptr);
    ~PluginServer() override;

    bool isListening() const;
    QString listenError() const { return m_listenError; }
    // Full path of the local server, the players' second argument.
    QString serverPath() const { return m_serverPath; }
    // "Tevora_x64" in the "x64" sub-folder on a 64-bit system, else "Tevora_x86".
    QString playerExe() const { return m_playerExe; }
    QString playerDir() const { return m_playerDir; }

    // How long a player start waits for the player to connect.
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    static bool isSystem64Bit();
    // Empties `destination` (creating it) and removes `source`; false when
    // `source` does not exist.
    static bool resetDirectories(const QString &source, const QString &destination);

    // The running player process of a session, if any.
    SpawnedProcess *playerProcess(int nSessionID) const;
    bool hasPlayerLink(int nSessionID) const;

    // Starts the session's player for its front end `owner`, which gets the
    // player's messages and the news of its loss, and binds the player's
    // connection to the session; returns once the player has connected or
    // failed to (at most the connect time-out).
    void onNewConnection(int nSessionID, QString WndID, PageFrontEnd *owner);
    // The same, returning at once; the connection is bound when it comes, and
    // the session's messages wait for it until then.
    void onNewSession(int nSessionID, QString WndID, PageFrontEnd *owner);

public slots:
    // Frames `msg` and writes it to the session's player.
    void onRecvWebsocketMsg(QByteArray msg, int nSessionID);
    // Closes the session's link; the player then logs out and quits.
    void onDisconnectWebsocket(int nSessionID);
    // Kills the session's player and drops its link.
    void onClosePipe(int nSessionID);

private slots:
    // Binds each waiting connection to the session whose player it comes
    // from; others are refused.
    void acceptConnections();

private:
    // The front end that holds a session, as long as it exists.
    struct Owner
    {
        QPointer<QObject> object;
        PageFrontEnd *frontEnd = nullptr;
        // Runs `call` with the front end on its thread: at once when that is
        // the calling thread, else queued; not at all once it is gone.
        template<typename Call> void reach(Call call) const;
    };
    static Owner ownerOf(PageFrontEnd *frontEnd);

    struct Link
    {
        Owner owner;
        QPointer<QLocalSocket> socket;
        LinkFrameDecoder decoder;
        int fd = -1; // the socket's descriptor, watched while the link is held
        qint64 awaitedPid = 0; // the player started for the session, until it connects
        QList<QByteArray> waiting; // the session's messages until then
        qint64 waitingBytes = 0; // their size, bounded as unsent bytes are
    };

    // Starts the session's player and makes its link wait for it; the
    // player's process id, 0 when it did not start.
    qint64 startPlayer(int nSessionID, const QString &WndID, const Owner &owner);
    // True while the session's link waits for the player `pid`.
    bool awaiting(int nSessionID, qint64 pid) const;
    void bindPlayer(int nSessionID, QLocalSocket *socket);
    // The player `pid` did not connect: it is ended, the session loses its link.
    void abandonStart(int nSessionID, qint64 pid);
    // Ends the session's player process `pid` if it still runs.
    void endPlayer(int nSessionID, qint64 pid);
    void readPlayer(int nSessionID, QLocalSocket *socket);
    void dropLink(int nSessionID);
    // Ends the player and its link and reports the player lost.
    void losePlayer(int nSessionID, const QString &why);

    QString m_serverName;
    QString m_serverPath;
    QString m_listenError;
    QLocalServer *m_server = nullptr;
    std::map<int, Link> m_links;
    QString m_playerExe;
    QString m_playerDir;
    int m_connectTimeoutMs = kConnectTimeoutMs;
};
