#pragma once

#include <QByteArray>

// The key record of one page session, inside its PageSession.
struct CUserLoginInfo
{
    static constexpr int kKeySize = 32; // NUL-terminated text, at most 31 characters

    int m_nSocket = -1; // raw socket of the session; -1 on the WebSocket side
    unsigned char m_iv[16] = {}; // AES initialisation vector, all zero
    char m_key[kKeySize] = {}; // the session key as text
    bool m_bUpgrade = false; // a player message carried "IsUpgrade"
    bool m_bEncrypted = false; // from now on the session's traffic is encrypted

    CUserLoginInfo() = default;
    CUserLoginInfo(const CUserLoginInfo &other) = default;
    CUserLoginInfo &operator=(const CUserLoginInfo &other) = default;
    ~CUserLoginInfo() { wipe(); }

    // Stores at most 31 characters of `key`, zeroes the IV and sets the
    // encrypted flag.
    void setKey(const QByteArray &key);
    QByteArray keyText() const;
    // Overwrites the key and the IV with zeros and clears the flags; done when
    // the session ends so that no key outlives its session in memory.
    void wipe();
};
