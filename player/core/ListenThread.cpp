#include "ListenThread.h"

#include "LightWeightLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QAbstractSocket>
#include <QLocalSocket>
#include <QThread>

ListenThread::ListenThread(const QString &serverName, QObject *parent, int connectTimeoutMs)
    : QObject(parent)
    , m_socket(new QLocalSocket(this))
{
    // The socket reports its state through queued signals once it lives on the link thread.
    qRegisterMetaType<QAbstractSocket::SocketState>();
    qRegisterMetaType<QAbstractSocket::SocketError>();
    // The service may still be setting up its server: try again until the time is up.
    QDeadlineTimer deadline(qMax(0, connectTimeoutMs));
    int pauseMs = 10;
    for (;;) {
        m_socket->connectToServer(serverName, QIODevice::ReadWrite);
        if (m_socket->waitForConnected(int(qMax<qint64>(0, deadline.remainingTime())))) {
            m_bConnected = true;
            break;
        }
        m_socket->abort();
        if (deadline.hasExpired())
            break;
        QThread::msleep(ulong(qMin<qint64>(pauseMs, deadline.remainingTime())));
        pauseMs = qMin(pauseMs * 2, 200);
    }
    if (!m_bConnected) {
        playerLog("ListenThread::ListenThread",
            QStringLiteral("can't connect to plugin server,serverName:%1").arg(serverName),
            LightWeightLog::Error);
        return;
    }

    connect(m_socket, &QLocalSocket::readyRead, this, &ListenThread::onReadyRead);
    connect(m_socket, &QLocalSocket::disconnected, this, &ListenThread::onDisconnected);
    m_thread = new QThread(this);
    moveToThread(m_thread);
}

void ListenThread::start()
{
    if (!m_thread || m_thread->isRunning())
        return;
    m_thread->start(QThread::InheritPriority);
    // Bytes that arrived before the thread took over are read at once.
    QMetaObject::invokeMethod(this, &ListenThread::onReadyRead, Qt::QueuedConnection);
}

ListenThread::~ListenThread()
{
    stop();
}

void ListenThread::stop()
{
    if (!m_thread || !m_thread->isRunning())
        return;
    m_thread->quit();
    if (QThread::currentThread() != m_thread)
        m_thread->wait();
}

void ListenThread::onSendMsg(QString msg)
{
    const QByteArray payload = msg.toUtf8();
    if (quint32(payload.size()) > LinkFrame::kMaxPayload) {
        playerLog("ListenThread::onSendMsg",
            QStringLiteral("message of %1 bytes is over the frame limit, not sent").arg(payload.size()),
            LightWeightLog::Error);
        return;
    }
    m_socket->write(LinkFrame::encode(payload));
    m_socket->flush();
}

void ListenThread::onReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    if (!bytes.isEmpty())
        m_decoder.append(bytes);
    LinkFrameDecoder::Event ev;
    while (m_decoder.next(&ev)) {
        switch (ev.kind) {
        case LinkFrameDecoder::Kind::Frame: {
            // Logged once, by the request manager.
            emit recvMsgSig(LinkFrame::payloadText(ev.payload));
            break;
        }
        case LinkFrameDecoder::Kind::BadHeader:
            playerLog("ListenThread::onReadyRead",
                QStringLiteral("bad frame header %1 dropped").arg(QString::fromLatin1(ev.header.toHex())),
                LightWeightLog::Warning);
            break;
        case LinkFrameDecoder::Kind::Oversized:
            playerLog("ListenThread::onReadyRead",
                QStringLiteral("frame of %1 bytes is over the limit, skipped").arg(ev.length),
                LightWeightLog::Error);
            break;
        }
    }
}

void ListenThread::onDisconnected()
{
    if (m_bDisconnectReported)
        return;
    m_bDisconnectReported = true;
    // Blocks until the request manager has logged out of every device.
    emit disconnectSig();
    // Queued, so that a quit before the event loop runs is not lost.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}
