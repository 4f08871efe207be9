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
