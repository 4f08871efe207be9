#pragma once

#include "common/LinkFrame.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <map>

class QLocalServer;
class QLocalSocket;
class QProcess;

// Starts one player process per page session and relays the session's JSON
// messages to it and back. The players connect to a local server at a
// per-user, owner-only socket path, which travels to them as their second
// argument; each message on that link is one frame of the link format.
//
// Lives in the GUI thread. A player start blocks it until the player has
// connected (at most the connect time-out), so players start one after the
// other.
class PluginServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kConnectTimeoutMs = 10000;
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
    QProcess *playerProcess(int nSessionID) const;
    bool hasPlayerLink(int nSessionID) const;

signals:
    // Every frame a player sends, to both page front ends; each forwards it
    // only for a session it holds.
    void sendWebsocketMsgSig(QByteArray msg, int nSessionID);
    void sendMsg(QByteArray msg, int nSessionID);

public slots:
    // Frames `msg` and writes it to the session's player.
    void onRecvWebsocketMsg(QByteArray msg, int nSessionID);
    // Starts the session's player and binds its connection to the session.
    void onNewConnection(int nSessionID, QString WndID);
    // Closes the session's link; the player then logs out and quits.
    void onDisconnectWebsocket(int nSessionID);
    // Kills the session's player and drops its link.
    void onClosePipe(int nSessionID);

private slots:
    void refuseStrayConnections();

private:
    struct Link
    {
        QPointer<QLocalSocket> socket;
        LinkFrameDecoder decoder;
        int fd = -1; // the socket's descriptor, watched while the link is held
    };

    QLocalSocket *waitForPlayer(QProcess *process, qint64 pid);
    void readPlayer(int nSessionID, QLocalSocket *socket);
    void dropLink(int nSessionID);

    QString m_serverName;
    QString m_serverPath;
    QString m_listenError;
    QLocalServer *m_server = nullptr;
    std::map<int, Link> m_links;
    QString m_playerExe;
    QString m_playerDir;
    int m_connectTimeoutMs = kConnectTimeoutMs;
    qint64 m_awaitedPid = 0; // non-zero while a player start waits for its connection
};
