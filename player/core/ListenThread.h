#pragma once

#include "common/LinkFrame.h"

#include <QObject>
#include <QString>

class QLocalSocket;
class QThread;

// The player's end of the local link to the service: connects at start, cuts
// the incoming bytes into messages for the request manager, writes its
// replies and events, and reports the end of the link. Lives on a thread of
// its own once connected.
class ListenThread : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultConnectTimeoutMs = 30000;

    // Connects to `serverName` (a socket path), trying until `connectTimeoutMs` passed.
    explicit ListenThread(const QString &serverName, QObject *parent = nullptr,
                          int connectTimeoutMs = kDefaultConnectTimeoutMs);
    ~ListenThread() override;

    bool isConnected() const { return m_bConnected; }
    // Starts reading and writing on the link's own thread; call once the
    // signals are connected, so that no early message is lost.
    void start();
    // Ends the link thread (at exit).
    void stop();

signals:
    void recvMsgSig(QString msg);
    void disconnectSig();

public slots:
    void onSendMsg(QString msg);
    void onReadyRead();

private slots:
    void onDisconnected();

private:
    QLocalSocket *m_socket = nullptr;
    QThread *m_thread = nullptr;
    LinkFrameDecoder m_decoder;
    bool m_bConnected = false;
    bool m_bDisconnectReported = false;
};
