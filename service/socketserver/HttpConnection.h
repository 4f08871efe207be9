#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QFile>

#include <chrono>
#include <functional>
#include <memory>

// One connection of the socket server from its acceptance until its request
// is answered, handed on or given up. Nothing here waits: the server's loop
// polls all connections at once and calls in when one is ready or its time
// is up, so a slow or silent client costs the others nothing.
class HttpConnection
{
public:
    using Clock = std::chrono::steady_clock;
    // The time a request has to arrive whole, counted once from its first
    // byte (from the acceptance while nothing came); the time a reply may go
    // without progress.
    static constexpr int kWaitMs = 3000;

    enum class State {
        Reading, // the request is coming in
        Writing, // the reply is going out
        Finished, // done or given up: the loop closes it
        Handed // its socket belongs to someone else now
    };

    HttpConnection(int socket, Clock::time_point now);
    // Closes the socket unless it was handed on.
    ~HttpConnection();
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    int socket() const { return m_socket; }
    State state() const { return m_state; }

    // Takes what has arrived; true when the request is to be handled now:
    // whole, refused as bad, or as whole as it will get (the peer ended its
    // side, or the buffer is full).
    bool receive(Clock::time_point now);
    HttpRequest::Scan scan() const { return m_scan; }
    const QByteArray &request() const { return m_request; }
    const HttpRequest::Head &head() const { return m_head; }
    // True once the head arrived whole (the body may still be short).
    bool hasHead() const { return m_head.headLength > 0; }

    // The reply: bytes, then optionally a file's contents (`fileSize` bytes
    // of it, as announced). Sending starts with the next send().
    void reply(const QByteArray &bytes);
    void replyFile(std::unique_ptr<QFile> file, qint64 fileSize);
    // Runs once the whole reply went out, in place of closing; it may take
    // the socket with handOver(). `failed` runs when the reply could not be
    // sent whole.
    void setReplyActions(std::function<void()> sent, std::function<void()> failed);
    // Sends what the socket takes now; finishes the connection when the
    // reply is out or sending failed.
    void send(Clock::time_point now);

    // The connection is given up (its time is up, or it is not answered).
    void finish();
    // Hands the socket on: it is not closed here.
    int handOver();

    // poll() events of interest in the present state.
    short pollEvents() const;
    // When the loop must look at the connection again even if nothing happens.
    Clock::time_point deadline() const;

private:
    // Finishes the connection and runs the reply's action for `sent`.
    void end(bool sent);

    int m_socket;
    State m_state = State::Reading;
    Clock::time_point m_accepted;
    Clock::time_point m_firstByte;
    Clock::time_point m_lastProgress;
    bool m_gotBytes = false;
    bool m_peerEnded = false;
    bool m_headSeen = false;
    bool m_continueSent = false;
    HttpRequest::Scan m_scan = HttpRequest::Scan::NeedMore;
    QByteArray m_request;
    HttpRequest::Head m_head;

    QByteArray m_out;
    int m_outPos = 0;
    std::unique_ptr<QFile> m_file;
    qint64 m_fileLeft = 0;
    std::function<void()> m_sent;
    std::function<void()> m_failed;
};
