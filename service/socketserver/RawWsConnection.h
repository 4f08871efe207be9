#pragma once

#include "PageFrontEnd.h"
#include "PageSession.h"
#include "RawSocket.h"

#include <QByteArray>

#include <atomic>
#include <deque>
#include <mutex>

// One raw WebSocket page session: its socket, its page-session record (id,
// key, cipher) and the frames waiting to go to the page. Any thread queues frames; only the session's own
// thread writes to the socket, as far as the page reads, so a page that reads
// slowly never holds up whoever sent. Shared by the session's thread and every
// sender; the socket is closed only when the last holder lets go, so its
// number cannot be handed to another connection while anyone may still use it.
class RawWsConnection
{
public:
    // Bytes a page may leave unread before its session is ended.
    static constexpr qint64 kMaxUnsentBytes = PageFrontEnd::kMaxQueuedBytes;

    enum class Queued {
        Yes,
        Closed, // the session is closing or ended: nothing more goes out
        Overflow // the page left too much unread: the session ends now
    };

    RawWsConnection(int socket, int sessionId);
    ~RawWsConnection();
    RawWsConnection(const RawWsConnection &) = delete;
    RawWsConnection &operator=(const RawWsConnection &) = delete;

    int socket() const { return m_socket; }
    int sessionId() const { return m_page.sessionId(); }
    // Any thread: the session's key record and cipher.
    PageSession &page() { return m_page; }
    const PageSession &page() const { return m_page; }

    // Any thread. One whole frame for the session's thread to send. After a
    // close frame nothing more is taken.
    Queued queueFrame(int opcode, const QByteArray &payload);
    // A text frame; encrypted once the session has its key.
    Queued sendText(const QByteArray &text);

    // Any thread: asks the session's thread to close the page with `code`.
    void requestClose(int code);
    // Any thread: ends the session at once, without a close frame.
    void abort();

    // The rest is for the session's thread.
    int wakeFd() const { return m_wakeup.fd(); }
    void clearWake() { m_wakeup.clear(); }
    // Close code another thread asked for; 0 when none.
    int closeRequested() const { return m_closeCode.load(); }
    bool aborted() const { return m_aborted.load(); }
    bool hasOutput() const { return m_unsent.load() > 0; }
    qint64 unsentBytes() const { return m_unsent.load(); }
    // Sends what the socket takes now; false when sending failed.
    bool flush();

private:
    const int m_socket;
    PageSession m_page;

    std::mutex m_queueMutex; // guards m_queue and m_closeQueued
    std::deque<QByteArray> m_queue;
    bool m_closeQueued = false;
    std::atomic<qint64> m_unsent { 0 }; // queued and not yet taken by the socket
    QByteArray m_sending; // taken from the queue by the session's thread
    int m_sendPos = 0;

    std::atomic<int> m_closeCode { 0 };
    std::atomic<bool> m_aborted { false };
    RawSocket::Wakeup m_wakeup;
};
