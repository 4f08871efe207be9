#pragma once

#include "UserLoginInfo.h"

#include <QByteArray>

#include <atomic>
#include <mutex>

// One raw WebSocket page session: its socket, its key record and a write
// lock. Shared by the session's receive thread and every sender; the socket is
// closed only when the last holder lets go, so its number cannot be handed to
// another connection while anyone may still write to it.
class RawWsConnection
{
public:
    RawWsConnection(int socket, int sessionId);
    ~RawWsConnection();
    RawWsConnection(const RawWsConnection &) = delete;
    RawWsConnection &operator=(const RawWsConnection &) = delete;

    int socket() const { return m_socket; }
    int sessionId() const { return m_sessionId; }

    // One whole frame, or nothing: false once the connection is closed or a
    // send failed (which closes it, since a cut frame leaves the stream unusable).
    bool sendFrame(int opcode, const QByteArray &payload);
    // A text frame; encrypted once the session has its key.
    bool sendText(const QByteArray &text);
    // The page's text as the player gets it: decrypted once the session has
    // its key (a text that is not Base64 passes unchanged).
    QByteArray pageText(const QByteArray &payload) const;

    void setKey(const QByteArray &key);
    void setUpgrade(bool upgrade);
    CUserLoginInfo loginInfo() const;

    // Ends both directions: the receive thread wakes and ends the session.
    void shutdown();
    bool isClosed() const { return m_closed.load(); }

private:
    const int m_socket;
    const int m_sessionId;
    mutable std::mutex m_infoMutex; // guards m_info
    CUserLoginInfo m_info;
    std::mutex m_writeMutex; // one frame at a time
    std::atomic<bool> m_closed { false };
};
