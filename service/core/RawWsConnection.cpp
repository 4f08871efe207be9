#include "RawWsConnection.h"

#include "RawSocket.h"
#include "SessionCipher.h"
#include "WsFrame.h"

#include <unistd.h>

RawWsConnection::RawWsConnection(int socket, int sessionId)
    : m_socket(socket)
    , m_sessionId(sessionId)
{
    m_info.m_nSocket = socket;
}

RawWsConnection::~RawWsConnection()
{
    RawSocket::closeSocket(m_socket);
}

bool RawWsConnection::sendFrame(int opcode, const QByteArray &payload)
{
    const QByteArray frame = WsFrame::build(opcode, payload);
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (m_closed)
        return false;
    if (RawSocket::sendAll(m_socket, frame.constData(), size_t(frame.size()), 3000)
        != ssize_t(frame.size())) {
        m_closed = true;
        RawSocket::shutdownSocket(m_socket);
        return false;
    }
    if (opcode == WsFrame::Close)
        m_closed = true;
    return true;
}

bool RawWsConnection::sendText(const QByteArray &text)
{
    const CUserLoginInfo info = loginInfo();
    QByteArray payload = text;
    if (info.m_bEncrypted) {
        payload.clear();
        if (encryptSessionMessage(text, &payload, info.m_iv, info.m_key) != kCipherOk)
            payload.clear();
    }
    return sendFrame(WsFrame::Text, payload);
}

QByteArray RawWsConnection::pageText(const QByteArray &payload) const
{
    const CUserLoginInfo info = loginInfo();
    if (!info.m_bEncrypted)
        return payload;
    QByteArray text;
    decryptSessionMessage(payload, &text, info.m_iv, info.m_key);
    return text;
}

void RawWsConnection::setKey(const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info.setKey(key);
}

void RawWsConnection::setUpgrade(bool upgrade)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info.m_bUpgrade = upgrade;
}

CUserLoginInfo RawWsConnection::loginInfo() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}

void RawWsConnection::shutdown()
{
    m_closed = true;
    RawSocket::shutdownSocket(m_socket);
}
