#pragma once

#include <atomic>
#include <map>
#include <mutex>

// What the service's two page front ends share: the session counter, the
// WebSocket server's port, and the raw connections the socket server serves.
// Each session's key lives in its own record (PageSession), kept by the
// front end that holds the session. Every table has its own lock and no
// operation holds two of them; nothing is sent and no signal is emitted while
// a lock is held.
class ClientRegistry
{
public:
    static constexpr int kMaxClients = 4;

    static ClientRegistry *instance();
    // Empties the client table and deletes the instance.
    static void releaseInstance();

    ClientRegistry() = default;
    ClientRegistry(const ClientRegistry &) = delete;
    ClientRegistry &operator=(const ClientRegistry &) = delete;

    // Session ids: handed out once, from 1, never reused. Both front ends take
    // their ids here.
    int takeSessionId();
    // The id the next accepted session will receive.
    int nextSessionId() const;

    // The port the WebSocket server listens on; 0 until it listens.
    int webSocketPort() const { return m_webSocketPort.load(); }
    void setWebSocketPort(int port) { m_webSocketPort.store(port); }

    // Raw connections being served, at most four.
    // 0 and *out = socket; -1 and *out = the lowest served socket when four
    // are served; -2 when memory runs out.
    int addClient(int socket, int *out);
    // 0 and *out = the stored value, or -1 when absent.
    int findClient(int socket, int *out) const;
    void removeClient(int socket);
    // 0, or -1 when absent or `value` is null.
    int setGuardedValue(int socket, const int *value);
    int clearGuardedMap();
    int clientCount() const;

private:
    mutable std::mutex m_mutex; // guards m_nextSessionId
    int m_nextSessionId = 1;
    std::atomic<int> m_webSocketPort { 0 };

    mutable std::mutex m_clientMutex; // guards m_clients
    std::map<int, int> m_clients;
};
