#pragma once

#include "common/LinkFrame.h"

#include <QObject>
#include <QString>

#include <deque>
#include <mutex>

class QSocketNotifier;
class QThread;

// The player's end of the local link to the service: connects at start, cuts
// the incoming bytes into messages for the request manager, writes its
// replies and events, and reports the end of the link. Once started it reads
// on a thread of its own, or on the request manager's thread, so that a
// request reaches its handler without a hand-over between threads. Any thread
// may write: onSendMsg writes the frame at once, under a lock.
class ListenThread : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultConnectTimeoutMs = 30000;
    // How long the request thread looks for the next request after sending
    // before it sleeps.
    static constexpr int kPollBeforeSleepUs = 200;

    // Connects to `serverName` (a socket path), trying until `connectTimeoutMs` passed.
    explicit ListenThread(const QString &serverName, QObject *parent = nullptr,
        int connectTimeoutMs = kDefaultConnectTimeoutMs);
    ~ListenThread() override;

    bool isConnected() const { return m_bConnected; }
    // Starts reading on the link's own thread, or on `readThread` (which
    // runs an event loop); call once the signals are connected, so that no
    // early message is lost.
    void start(QThread *readThread = nullptr);
    // Ends the reading (at exit): the link thread ends; a link reading on
    // another thread stops reading and moves to the calling thread once that
    // thread's pending events have run.
    void stop();

signals:
    void recvMsgSig(QString msg);
    void disconnectSig();

public slots:
    // Any thread: frames `msg` and writes it before returning.
    void onSendMsg(QString msg);
    void onReadyRead();

private slots:
    void onDisconnected();

private:
    // True once the service has closed its end of the link.
    bool peerClosed() const;
    // The link's reading handle and its notifier, on the reading thread.
    int m_readFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QThread *m_thread = nullptr;
    QThread *m_readThread = nullptr; // the thread reading, when not m_thread
    LinkFrameDecoder m_decoder;
    // Messages cut but not yet handled: a handler that runs an event loop
    // may read again, and then takes them in their order.
    std::deque<LinkFrameDecoder::Event> m_inbox;
    // The writers' own handle of the link, so that it stays valid while
    // QLocalSocket closes its own; written under m_writeMutex.
    int m_writeFd = -1;
    std::mutex m_writeMutex;
    bool m_bConnected = false;
    bool m_bDisconnectReported = false;
};
