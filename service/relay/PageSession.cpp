#include "PageSession.h"

#include "SessionCipher.h"

PageSession::PageSession(int sessionId, int socket)
    : m_sessionId(sessionId)
{
    m_info.m_nSocket = socket;
}

void PageSession::setKey(const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.setKey(key);
}

void PageSession::setUpgrade(bool upgrade)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.m_bUpgrade = upgrade;
}

CUserLoginInfo PageSession::loginInfo() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info;
}

bool PageSession::isKeyed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.m_bEncrypted;
}

void PageSession::wipe()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.wipe();
}

bool PageSession::textForPage(const QByteArray &text, QByteArray *out) const
{
    const CUserLoginInfo info = loginInfo();
    if (!info.m_bEncrypted) {
        *out = text;
        return true;
    }
    out->clear();
    if (encryptSessionMessage(text, out, info.m_iv, info.m_key) == kCipherOk)
        return true;
    out->clear();
    return false;
}

bool PageSession::textFromPage(const QByteArray &text, QByteArray *out) const
{
    const CUserLoginInfo info = loginInfo();
    if (!info.m_bEncrypted) {
        *out = text;
        return true;
    }
    out->clear();
    DecryptOutcome outcome = DecryptOutcome::Failed;
    decryptSessionMessage(text, out, info.m_iv, info.m_key, &outcome);
    return outcome != DecryptOutcome::Failed;
}
