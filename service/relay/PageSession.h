#pragma once

#include "UserLoginInfo.h"

#include <QByteArray>

#include <mutex>

// One page session as both page front ends hold it: its id, its key record
// and the session cipher both ways once the page has asked for a key. From
// then on the session's texts travel encrypted between service and page;
// between service and player they stay plain.
//
// Any thread: a raw socket session reads the page on its own thread while
// the relay's thread sends to it. The key record is copied out under the
// record's lock and the cipher runs outside it.
class PageSession
{
public:
    // `socket` is the raw socket of the session; -1 on the WebSocket side.
    explicit PageSession(int sessionId, int socket = -1);
    PageSession(const PageSession &) = delete;
    PageSession &operator=(const PageSession &) = delete;

    int sessionId() const { return m_sessionId; }

    // Keys the session: at most 31 characters of `key`, the all-zero IV.
    void setKey(const QByteArray &key);
    // A player message of the session carried "IsUpgrade".
    void setUpgrade(bool upgrade);
    // A copy of the key record.
    CUserLoginInfo loginInfo() const;
    // True once the session has its key.
    bool isKeyed() const;
    // Overwrites the key with zeros and clears the flags; done when the
    // session ends, so that no key outlives its session in memory (the
    // record is wiped when it goes, too).
    void wipe();

    // A text for the page: itself, or its cipher text once the session has a
    // key. False (and `out` empty) when it does not encrypt.
    bool textForPage(const QByteArray &text, QByteArray *out) const;
    // A text from the page as the player gets it: itself, or the plaintext
    // once the session has a key; a text that is no Base64 passes unchanged.
    // False (and `out` empty) when it is Base64 that does not decrypt.
    bool textFromPage(const QByteArray &text, QByteArray *out) const;

private:
    const int m_sessionId;
    mutable std::mutex m_mutex; // guards m_info
    CUserLoginInfo m_info;
};
