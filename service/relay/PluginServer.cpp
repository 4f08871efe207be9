#include "PluginServer.h"

#include "LocalLink.h"
#include "ServiceLog.h"
#include "SpawnedProcess.h"
#include "SystemArch.h"
#include "common/PollBeforeSleep.h"
#include "common/ProgramDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

PluginServer *g_instance = nullptr;

QString processName(int nSessionID)
{
    return QStringLiteral("Tevora_%1").arg(nSessionID);
}

} // namespace

PluginServer *PluginServer::instance()
{
    if (!g_instance) {
        const QString appDir = ProgramDir::folder();
        g_instance = new PluginServer(appDir, QFileInfo(ProgramDir::executablePath()).fileName());
    }
    return g_instance;
}

void PluginServer::releaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

PluginServer::PluginServer(const QString &appDir, const QString &baseName, QObject *parent)
    : QObject(parent)
    , m_serverName(QStringLiteral("PluginServer"))
{
    m_server = new QLocalServer(this);
    m_serverPath = LocalLink::serverPath(baseName + QLatin1Char('.') + m_serverName);
    if (!LocalLink::listenOwnerOnly(m_server, m_serverPath, &m_listenError))
        serviceLog("PluginServer::PluginServer", m_listenError, ServiceLog::Warning);
    connect(m_server, &QLocalServer::newConnection, this, &PluginServer::acceptConnections);

    if (isSystem64Bit()) {
        m_playerDir = appDir + QStringLiteral("/x64");
        m_playerExe = m_playerDir + QStringLiteral("/Tevora_x64");
    } else {
        m_playerDir = appDir;
        m_playerExe = m_playerDir + QStringLiteral("/Tevora_x86");
    }
}

PluginServer::~PluginServer()
{
    // Taken out first, and the links' handlers let go: an abort reports the
    // link's end at once, and that handler would erase from the table being
    // walked.
    std::map<int, Link> links;
    links.swap(m_links);
    for (auto &entry : links) {
        if (entry.second.socket) {
            entry.second.socket->disconnect(this);
            entry.second.socket->abort();
        }
    }
    links.clear();
    const auto players = findChildren<SpawnedProcess *>(QString(), Qt::FindDirectChildrenOnly);
    for (SpawnedProcess *player : players)
        player->terminate();
    if (m_server->isListening())
        m_server->close();
}

PluginServer::Owner PluginServer::ownerOf(PageFrontEnd *frontEnd)
{
    // Front ends are QObjects: their thread is known, and so is their end.
    Owner owner;
    owner.object = dynamic_cast<QObject *>(frontEnd);
    owner.frontEnd = owner.object ? frontEnd : nullptr;
    return owner;
}

template<typename Call> void PluginServer::Owner::reach(Call call) const
{
    QObject *target = object;
    if (!target)
        return;
    if (target->thread() == QThread::currentThread()) {
        call(frontEnd);
        return;
    }
    PageFrontEnd *const to = frontEnd;
    QMetaObject::invokeMethod(
        target, [to, call] { call(to); }, Qt::QueuedConnection);
}

bool PluginServer::isListening() const
{
    return m_server->isListening();
}

bool PluginServer::isSystem64Bit()
{
    return SystemArch::is64Bit();
}

bool PluginServer::resetDirectories(const QString &source, const QString &destination)
{
    if (!QFileInfo(source).isDir())
        return false;
    QDir dest(destination);
    if (dest.exists())
        dest.removeRecursively();
    QDir().mkpath(destination);
    QDir(source).removeRecursively();
    return true;
}

SpawnedProcess *PluginServer::playerProcess(int nSessionID) const
{
    const auto players = findChildren<SpawnedProcess *>(processName(nSessionID), Qt::FindDirectChildrenOnly);
    for (SpawnedProcess *player : players) {
        if (player->isRunning())
            return player;
    }
    return nullptr;
}

bool PluginServer::hasPlayerLink(int nSessionID) const
{
    const auto it = m_links.find(nSessionID);
    return it != m_links.end() && it->second.socket;
}

void PluginServer::onNewConnection(int nSessionID, QString WndID, PageFrontEnd *owner)
{
    const qint64 pid = startPlayer(nSessionID, WndID, ownerOf(owner));
    if (pid == 0)
        return;
    QElapsedTimer elapsed;
    elapsed.start();
    // A connection arriving meanwhile is bound by acceptConnections, which the
    // server calls from inside its wait.
    while (awaiting(nSessionID, pid)) {
        acceptConnections();
        if (!awaiting(nSessionID, pid))
            break;
        SpawnedProcess *process = playerProcess(nSessionID);
        const qint64 remaining = m_connectTimeoutMs - elapsed.elapsed();
        if (remaining <= 0 || !process || process->waitForFinished(0)) {
            abandonStart(nSessionID, pid);
            break;
        }
        m_server->waitForNewConnection(int(qMin<qint64>(remaining, 50)));
    }
}

void PluginServer::onNewSession(int nSessionID, QString WndID, PageFrontEnd *owner)
{
    const qint64 pid = startPlayer(nSessionID, WndID, ownerOf(owner));
    if (pid == 0)
        return;
    QTimer::singleShot(m_connectTimeoutMs, this, [this, nSessionID, pid] {
        if (awaiting(nSessionID, pid))
            abandonStart(nSessionID, pid);
    });
}

qint64 PluginServer::startPlayer(int nSessionID, const QString &WndID, const Owner &owner)
{
    if (!m_server->isListening()) {
        serviceLog("PluginServer::onNewConnection",
            QStringLiteral("no local server, session %1 gets no player").arg(nSessionID),
            ServiceLog::Warning);
        return 0;
    }
    // Started without copying the service: many pages opening at once do
    // not queue behind the copies, and a program that cannot run is known here.
    auto *process = new SpawnedProcess(this);
    process->setObjectName(processName(nSessionID));
    const QStringList arguments { QString::number(nSessionID), m_serverPath, m_playerDir, WndID };
    if (!process->start(m_playerExe, arguments, m_playerDir)) {
        serviceLog("PluginServer::onNewConnection",
            QStringLiteral("cannot start %1: %2").arg(m_playerExe, process->errorString()),
            ServiceLog::Warning);
        process->deleteLater();
        owner.reach([nSessionID](PageFrontEnd *frontEnd) { frontEnd->onPlayerLost(nSessionID); });
        return 0;
    }
    const qint64 pid = process->processId();
    // A player that exits takes its process object with it; one that exits
    // before it connects will not connect.
    connect(process, &SpawnedProcess::finished, this, [this, nSessionID, pid, process] {
        process->deleteLater();
        if (awaiting(nSessionID, pid))
            abandonStart(nSessionID, pid);
    });
    dropLink(nSessionID);
    Link &link = m_links[nSessionID];
    link.owner = owner;
    link.awaitedPid = pid;
    return pid;
}

bool PluginServer::awaiting(int nSessionID, qint64 pid) const
{
    const auto it = m_links.find(nSessionID);
    return it != m_links.end() && !it->second.socket && it->second.awaitedPid == pid;
}

void PluginServer::abandonStart(int nSessionID, qint64 pid)
{
    if (!awaiting(nSessionID, pid))
        return;
    serviceLog("PluginServer::onNewConnection",
        QStringLiteral("player of session %1 did not connect").arg(nSessionID), ServiceLog::Warning);
    const Owner owner = m_links.at(nSessionID).owner;
    m_links.erase(nSessionID);
    endPlayer(nSessionID, pid);
    owner.reach([nSessionID](PageFrontEnd *frontEnd) { frontEnd->onPlayerLost(nSessionID); });
}

void PluginServer::endPlayer(int nSessionID, qint64 pid)
{
    const auto players = findChildren<SpawnedProcess *>(processName(nSessionID), Qt::FindDirectChildrenOnly);
    for (SpawnedProcess *player : players) {
        if (player->processId() == pid) {
            player->terminate();
            player->deleteLater();
        }
    }
}

void PluginServer::acceptConnections()
{
    while (m_server->hasPendingConnections()) {
        QLocalSocket *socket = m_server->nextPendingConnection();
        const qint64 peer = LocalLink::peerProcessId(socket);
        qint64 awaited = 0;
        const auto owner = std::find_if(m_links.begin(), m_links.end(), [&](const auto &entry) {
            if (entry.second.socket || entry.second.awaitedPid == 0)
                return false;
            awaited = entry.second.awaitedPid;
            return peer > 0 && awaited == peer;
        });
        if (owner != m_links.end()) {
            bindPlayer(owner->first, socket);
            continue;
        }
        // Only the session's own player may receive the page's requests.
        if (awaited != 0) {
            serviceLog("PluginServer::waitForPlayer",
                QStringLiteral("refused a connection from process %1 while waiting for %2")
                    .arg(peer)
                    .arg(awaited),
                ServiceLog::Warning);
        } else {
            serviceLog("PluginServer::refuseStrayConnections",
                QStringLiteral("refused a connection from process %1 outside a player start").arg(peer),
                ServiceLog::Warning);
        }
        socket->abort();
        socket->deleteLater();
    }
}

void PluginServer::bindPlayer(int nSessionID, QLocalSocket *socket)
{
    socket->setParent(this);
    Link &link = m_links[nSessionID];
    link.socket = socket;
    link.awaitedPid = 0;
    connect(socket, &QLocalSocket::readyRead, this,
        [this, nSessionID, socket] { readPlayer(nSessionID, socket); });
    // A link that ends while the session holds it: the player died.
    connect(socket, &QLocalSocket::disconnected, this, [this, nSessionID, socket] {
        const auto it = m_links.find(nSessionID);
        if (it != m_links.end() && it->second.socket == socket)
            losePlayer(nSessionID, QStringLiteral("its player ended"));
    });
    link.fd = int(socket->socketDescriptor());
    if (PollBeforeSleep *poll = PollBeforeSleep::forCurrentThread(kPollBeforeSleepUs))
        poll->watch(link.fd);
    // What the page sent while the player started, in its order.
    const QList<QByteArray> waiting = std::move(link.waiting);
    link.waiting.clear();
    link.waitingBytes = 0;
    for (const QByteArray &msg : waiting)
        socket->write(LinkFrame::encode(msg));
    if (!waiting.isEmpty())
        socket->flush();
    if (socket->bytesAvailable() > 0)
        readPlayer(nSessionID, socket);
}

void PluginServer::readPlayer(int nSessionID, QLocalSocket *socket)
{
    const QByteArray bytes = socket->readAll();
    const auto it = m_links.find(nSessionID);
    if (it == m_links.end() || it->second.socket != socket)
        return;
    const Owner owner = it->second.owner;
    LinkFrameDecoder &decoder = it->second.decoder;
    decoder.append(bytes);

    QList<QByteArray> messages;
    LinkFrameDecoder::Event event;
    while (decoder.next(&event)) {
        switch (event.kind) {
        case LinkFrameDecoder::Kind::Frame:
            messages.append(event.payload);
            break;
        case LinkFrameDecoder::Kind::BadHeader:
            serviceLog("PluginServer::readPlayer",
                QStringLiteral("session %1 dropped a bad frame header %2")
                    .arg(nSessionID)
                    .arg(QString::fromLatin1(event.header.toHex())),
                ServiceLog::Warning);
            break;
        case LinkFrameDecoder::Kind::Oversized:
            serviceLog("PluginServer::readPlayer",
                QStringLiteral("session %1 skips a frame of %2 bytes").arg(nSessionID).arg(event.length),
                ServiceLog::Warning);
            break;
        }
    }
    // Handed on after reading, so a front end that ends the session cannot
    // pull the decoder from under the loop.
    for (const QByteArray &msg : qAsConst(messages))
        owner.reach([msg, nSessionID](PageFrontEnd *frontEnd) { frontEnd->onSendMsg(msg, nSessionID); });
}

void PluginServer::onRecvWebsocketMsg(QByteArray msg, int nSessionID)
{
    const auto it = m_links.find(nSessionID);
    if (it == m_links.end() || (!it->second.socket && it->second.awaitedPid == 0))
        return;
    if (quint32(msg.size()) > LinkFrame::kMaxPayload) {
        serviceLog("PluginServer::onRecvWebsocketMsg",
            QStringLiteral("session %1 message of %2 bytes is too long").arg(nSessionID).arg(msg.size()),
            ServiceLog::Warning);
        return;
    }
    if (!it->second.socket) {
        // What waits for a starting player counts against the same bound as
        // what a player leaves unread, with the same ending.
        Link &link = it->second;
        if (link.waitingBytes + msg.size() > kMaxUnsentBytes) {
            losePlayer(nSessionID,
                QStringLiteral("its page sent %1 bytes while its player started")
                    .arg(link.waitingBytes + msg.size()));
            return;
        }
        link.waitingBytes += msg.size();
        link.waiting.append(msg);
        return;
    }
    QLocalSocket *socket = it->second.socket;
    socket->write(LinkFrame::encode(msg));
    socket->flush();
    if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
        poll->noteSent();
    if (socket->bytesToWrite() > kMaxUnsentBytes)
        losePlayer(nSessionID, QStringLiteral("its player left %1 bytes unread").arg(socket->bytesToWrite()));
}

void PluginServer::losePlayer(int nSessionID, const QString &why)
{
    serviceLog("PluginServer::losePlayer", QStringLiteral("session %1 ended: %2").arg(nSessionID).arg(why),
        ServiceLog::Warning);
    const auto it = m_links.find(nSessionID);
    const Owner owner = it == m_links.end() ? Owner() : it->second.owner;
    // A player that stopped reading is stuck: it goes like a dead one.
    onClosePipe(nSessionID);
    owner.reach([nSessionID](PageFrontEnd *frontEnd) { frontEnd->onPlayerLost(nSessionID); });
}

void PluginServer::dropLink(int nSessionID)
{
    const auto it = m_links.find(nSessionID);
    if (it == m_links.end())
        return;
    QPointer<QLocalSocket> socket = it->second.socket;
    const qint64 starting = socket ? 0 : it->second.awaitedPid;
    if (PollBeforeSleep *poll = PollBeforeSleep::currentThread())
        poll->unwatch(it->second.fd);
    m_links.erase(it);
    // A player still starting has nothing to close: it is ended.
    if (starting != 0)
        endPlayer(nSessionID, starting);
    if (socket) {
        socket->disconnect(this);
        socket->disconnectFromServer();
        socket->deleteLater();
    }
}

void PluginServer::onDisconnectWebsocket(int nSessionID)
{
    dropLink(nSessionID);
}

void PluginServer::onClosePipe(int nSessionID)
{
    const auto players = findChildren<SpawnedProcess *>(processName(nSessionID), Qt::FindDirectChildrenOnly);
    for (SpawnedProcess *player : players) {
        player->terminate();
        player->deleteLater();
    }
    dropLink(nSessionID);
}
