#pragma once

#include "UserLoginInfo.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

// What the service's two page front ends share: the session counter, the
// WebSocket server's port, and the raw socket server's per-connection tables.
// Every table has its own lock and no operation holds two of them; nothing is
// sent and no signal is emitted while a lock is held.
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

    // Raw socket sessions: session id to socket.
    void setSessionSocket(int sessionId, int socket);
    bool sessionSocket(int sessionId, int *socket) const;
    // The first session (in id order) whose socket is `socket`.
    bool sessionOfSocket(int socket, int *sessionId) const;
    void removeSessionSocket(int sessionId);

    // Raw socket key records: socket to record. Callers get copies; changes go
    // through the setters, so no record is read while another thread writes it.
    void setSocketLoginInfo(int socket, const CUserLoginInfo &info);
    bool socketLoginInfo(int socket, CUserLoginInfo *info) const;
    // Keys the connection's record (key, zero IV, encrypted flag); false when
    // the connection has no record.
    bool setSocketKey(int socket, const QByteArray &key);
    bool setSocketUpgrade(int socket, bool upgrade);
    // Removes the record and wipes its key.
    void removeSocketLoginInfo(int socket);

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

    mutable std::mutex m_rawMutex; // guards m_sessionSockets and m_socketLoginInfos
    std::map<int, int> m_sessionSockets;
    std::map<int, std::unique_ptr<CUserLoginInfo>> m_socketLoginInfos;

    mutable std::mutex m_clientMutex; // guards m_clients
    std::map<int, int> m_clients;
};
