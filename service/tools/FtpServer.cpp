#include "FtpServer.h"

#include "FtpClient.h"
#include "FtpSocket.h"
#include "RawSocket.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <mutex>

#include <arpa/inet.h>

namespace {

CFtpServer *g_instance = nullptr;

// How long stop() waits for each client's thread after shutting its sockets.
constexpr int kClientStopWaitMs = 5000;

} // namespace

CFtpServer *CFtpServer::instance()
{
    if (!g_instance)
        g_instance = new CFtpServer;
    return g_instance;
}

void CFtpServer::releaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

CFtpServer::CFtpServer(QObject *parent)
    : QObject(parent)
    , user("vexqa")
    , password("vexqa")
{
    m_acceptThread.setCallback(&CFtpServer::acceptEntry, this);
}

CFtpServer::~CFtpServer()
{
    stop();
    // A client whose thread would not end cannot be deleted safely; it is
    // left behind rather than freed under its running thread.
    for (auto &entry : clients) {
        if (entry.second->isFinished())
            delete entry.second;
        else
            qWarning() << "CFtpServer::~CFtpServer client thread still running, port" << entry.first;
    }
}

void CFtpServer::setUser(const char *newUser, const char *newPassword)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    user = QByteArray(newUser ? newUser : "");
    password = QByteArray(newPassword ? newPassword : "");
}

void CFtpServer::setUploadCallback(UploadCallback callback, void *userData)
{
    m_callback = callback;
    m_userData = userData;
}

bool CFtpServer::setListenAddress(const char *address)
{
    in_addr a {};
    if (!address || ::inet_pton(AF_INET, address, &a) != 1)
        return false;
    m_listenAddress = ntohl(a.s_addr);
    return true;
}

void CFtpServer::setDataTimeout(int milliseconds)
{
    m_dataTimeoutMs = milliseconds;
}

void CFtpServer::setLoginTimeout(int milliseconds)
{
    m_loginTimeoutMs = milliseconds;
}

int CFtpServer::start(const char *newName, int newPort, const char *newRoot)
{
    stop();
    name = QString::fromLocal8Bit(newName ? newName : "");
    port = newPort;
    rootFolder = QString::fromLocal8Bit(newRoot ? newRoot : "");
    QDir().mkpath(rootFolder);
    m_canonicalRoot = QFileInfo(rootFolder).canonicalFilePath();

    int stage = 0;
    const int socket = FtpSocket::listenOn(m_listenAddress, port, &stage);
    if (socket < 0)
        return stage == 1 ? -2 : stage == 2 ? -3 : -4;
    m_listenSocket = socket;
    m_listenPort = FtpSocket::localPort(socket);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reapFinished();
    }
    stopped = false;
    if (!m_acceptThread.isRunning())
        m_acceptThread.start();
    return 1;
}

int CFtpServer::stop()
{
    stopped = true;
    const int socket = m_listenSocket.exchange(-1);
    RawSocket::shutdownSocket(socket);
    m_acceptThread.wait();
    FtpSocket::closeSocket(socket);

    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &entry : clients)
        entry.second->requestStop();
    for (auto it = clients.begin(); it != clients.end();) {
        if (it->second->waitFinished(kClientStopWaitMs)) {
            delete it->second;
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
    return 1;
}

int CFtpServer::clientCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    reapFinished();
    return int(clients.size());
}

void CFtpServer::onNewPictureSave(QString strPicPath)
{
    if (m_callback)
        m_callback(strPicPath.toLocal8Bit().constData(), m_userData);
}

void CFtpServer::acceptEntry(void *self)
{
    static_cast<CFtpServer *>(self)->acceptLoop();
}

void CFtpServer::acceptLoop()
{
    qDebug() << "Server Thread Start.....";
    const int listener = m_listenSocket;
    while (!stopped) {
        const int socket = FtpSocket::acceptOne(listener);
        if (socket < 0 || stopped) {
            FtpSocket::closeSocket(socket);
            qDebug() << "FTP Server Accept Thread Exit!!!";
            stopped = true;
            break;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        reapFinished();
        if (clients.size() >= size_t(kMaxClients)) {
            FtpSocket::closeSocket(socket);
            continue;
        }
        const int dataPort = chooseDataPort(FtpSocket::localAddress(socket));
        if (dataPort == 0) {
            FtpSocket::closeSocket(socket);
            continue;
        }
        auto *client = new Client(socket, m_canonicalRoot, dataPort);
        client->moveToThread(thread());
        connect(client, &Client::newPictureSave, this, &CFtpServer::onNewPictureSave);
        client->setExpectedLogin(user, password);
        client->setDataTimeout(m_dataTimeoutMs);
        client->setLoginTimeout(m_loginTimeoutMs);
        client->start();
        clients[dataPort] = client;
        qDebug() << "new client" << clients.size() << " port:" << dataPort;
    }
    qDebug() << "Server Thread Quit.....";
}

void CFtpServer::reapFinished()
{
    for (auto it = clients.begin(); it != clients.end();) {
        if (it->second->isFinished()) {
            delete it->second;
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
}

int CFtpServer::chooseDataPort(uint32_t address)
{
    // A trial listen stands for the system's table of used ports, which
    // would be out of date by the time the client opens its listener anyway.
    for (int candidate = kFirstDataPort; candidate <= 65535; ++candidate) {
        if (clients.count(candidate) == 0 && FtpSocket::portFree(address, candidate))
            return candidate;
    }
    return 0;
}
