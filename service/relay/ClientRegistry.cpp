#include "ClientRegistry.h"

#include <new>

namespace {
ClientRegistry *g_instance = nullptr;
std::mutex g_instanceMutex;
} // namespace

ClientRegistry *ClientRegistry::instance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (!g_instance)
        g_instance = new ClientRegistry;
    return g_instance;
}

void ClientRegistry::releaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (!g_instance)
        return;
    g_instance->clearGuardedMap();
    delete g_instance;
    g_instance = nullptr;
}

int ClientRegistry::takeSessionId()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextSessionId++;
}

int ClientRegistry::nextSessionId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextSessionId;
}

void ClientRegistry::setSessionSocket(int sessionId, int socket)
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    m_sessionSockets[sessionId] = socket;
}

bool ClientRegistry::sessionSocket(int sessionId, int *socket) const
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    const auto it = m_sessionSockets.find(sessionId);
    if (it == m_sessionSockets.end())
        return false;
    if (socket)
        *socket = it->second;
    return true;
}

bool ClientRegistry::sessionOfSocket(int socket, int *sessionId) const
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    for (const auto &entry : m_sessionSockets) {
        if (entry.second == socket) {
            if (sessionId)
                *sessionId = entry.first;
            return true;
        }
    }
    return false;
}

void ClientRegistry::removeSessionSocket(int sessionId)
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    m_sessionSockets.erase(sessionId);
}

void ClientRegistry::setSocketLoginInfo(int socket, const CUserLoginInfo &info)
{
    auto record = std::make_unique<CUserLoginInfo>(info);
    std::lock_guard<std::mutex> lock(m_rawMutex);
    m_socketLoginInfos[socket] = std::move(record);
}

bool ClientRegistry::socketLoginInfo(int socket, CUserLoginInfo *info) const
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    const auto it = m_socketLoginInfos.find(socket);
    if (it == m_socketLoginInfos.end() || !it->second)
        return false;
    if (info)
        *info = *it->second;
    return true;
}

bool ClientRegistry::setSocketKey(int socket, const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    const auto it = m_socketLoginInfos.find(socket);
    if (it == m_socketLoginInfos.end() || !it->second)
        return false;
    it->second->setKey(key);
    return true;
}

bool ClientRegistry::setSocketUpgrade(int socket, bool upgrade)
{
    std::lock_guard<std::mutex> lock(m_rawMutex);
    const auto it = m_socketLoginInfos.find(socket);
    if (it == m_socketLoginInfos.end() || !it->second)
        return false;
    it->second->m_bUpgrade = upgrade;
    return true;
}

void ClientRegistry::removeSocketLoginInfo(int socket)
{
    std::unique_ptr<CUserLoginInfo> record;
    {
        std::lock_guard<std::mutex> lock(m_rawMutex);
        const auto it = m_socketLoginInfos.find(socket);
        if (it == m_socketLoginInfos.end())
            return;
        record = std::move(it->second);
        m_socketLoginInfos.erase(it);
    }
    // The record's destructor wipes the key.
}

int ClientRegistry::addClient(int socket, int *out)
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (int(m_clients.size()) >= kMaxClients) {
        if (out)
            *out = m_clients.begin()->second;
        return -1;
    }
    try {
        m_clients[socket] = socket;
    } catch (const std::bad_alloc &) {
        return -2;
    }
    if (out)
        *out = socket;
    return 0;
}

int ClientRegistry::findClient(int socket, int *out) const
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return -1;
    if (out)
        *out = it->second;
    return 0;
}

void ClientRegistry::removeClient(int socket)
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    m_clients.erase(socket);
}

int ClientRegistry::setGuardedValue(int socket, const int *value)
{
    if (!value)
        return -1;
    std::lock_guard<std::mutex> lock(m_clientMutex);
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return -1;
    it->second = *value;
    return 0;
}

int ClientRegistry::clearGuardedMap()
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    m_clients.clear();
    return 0;
}

int ClientRegistry::clientCount() const
{
    std::lock_guard<std::mutex> lock(m_clientMutex);
    return int(m_clients.size());
}
