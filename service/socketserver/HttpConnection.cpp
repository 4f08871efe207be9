#include "HttpConnection.h"

#include "RawSocket.h"

#include <poll.h>

namespace {

constexpr int kFileChunk = 65536;
// Bytes read from the socket per receive call.
constexpr int kReadChunk = 16384;

const char kContinueReply[] = "HTTP/1.1 100 Continue\r\n\r\n";

} // namespace

HttpConnection::HttpConnection(int socket, Clock::time_point now)
    : m_socket(socket)
    , m_accepted(now)
    , m_lastProgress(now)
{ }

HttpConnection::~HttpConnection()
{
    if (m_state != State::Handed)
        RawSocket::closeSocket(m_socket);
}

bool HttpConnection::receive(Clock::time_point now)
{
    if (m_state != State::Reading)
        return false;
    const int before = m_request.size();
    char chunk[kReadChunk];
    for (;;) {
        const int room = HttpRequest::kMaxRequest - m_request.size();
        if (room <= 0)
            break;
        const ssize_t n = RawSocket::receiveSome(m_socket, chunk, size_t(qMin(room, kReadChunk)));
        if (n == -2)
            break;
        if (n <= 0) {
            m_peerEnded = true;
            break;
        }
        if (!m_gotBytes) {
            m_gotBytes = true;
            m_firstByte = now;
        }
        m_request.append(chunk, int(n));
    }

    // The head's end is looked for in the new bytes only, and the head is
    // parsed once: a client sending a byte at a time costs no more than one
    // sending it all at once.
    if (!m_headSeen) {
        const int from = qMax(0, before - 2);
        m_headSeen = m_request.indexOf("\n\n", from) >= 0 || m_request.indexOf("\n\r\n", from) >= 0;
        if (m_headSeen)
            m_scan = HttpRequest::scan(m_request.constData(), m_request.size(), &m_head);
        else if (m_request.size() >= HttpRequest::kMaxRequest)
            m_scan = HttpRequest::Scan::Bad;
    } else if (m_scan == HttpRequest::Scan::NeedMore
        && m_request.size() - m_head.headLength >= m_head.contentLength) {
        m_scan = HttpRequest::Scan::Complete;
    }

    // A client that waits for leave to send its body gets it once.
    if (m_scan == HttpRequest::Scan::NeedMore && hasHead() && m_head.expectContinue && !m_continueSent
        && m_request.size() == m_head.headLength) {
        m_continueSent = true;
        m_out.append(kContinueReply, int(sizeof kContinueReply - 1));
        send(now);
    }
    return m_scan != HttpRequest::Scan::NeedMore || m_peerEnded
        || m_request.size() >= HttpRequest::kMaxRequest;
}

void HttpConnection::reply(const QByteArray &bytes)
{
    if (m_state == State::Reading) {
        m_state = State::Writing;
        m_lastProgress = Clock::now();
    }
    m_out.append(bytes);
}

void HttpConnection::replyFile(std::unique_ptr<QFile> file, qint64 fileSize)
{
    reply(QByteArray());
    m_file = std::move(file);
    m_fileLeft = fileSize;
}

void HttpConnection::setReplyActions(std::function<void()> sent, std::function<void()> failed)
{
    m_sent = std::move(sent);
    m_failed = std::move(failed);
}

void HttpConnection::send(Clock::time_point now)
{
    if (m_state != State::Reading && m_state != State::Writing)
        return;
    for (;;) {
        if (m_outPos >= m_out.size()) {
            m_out.clear();
            m_outPos = 0;
            if (m_state != State::Writing || !m_file || m_fileLeft <= 0)
                break;
            m_out.resize(int(qMin<qint64>(m_fileLeft, kFileChunk)));
            const qint64 n = m_file->read(m_out.data(), m_out.size());
            // A file that shrank under us ends the reply short: the peer sees
            // fewer bytes than announced and the connection closes.
            if (n <= 0) {
                end(false);
                return;
            }
            m_out.resize(int(n));
            m_fileLeft -= n;
        }
        const ssize_t n
            = RawSocket::sendSome(m_socket, m_out.constData() + m_outPos, size_t(m_out.size() - m_outPos));
        if (n == -2)
            return;
        if (n < 0) {
            end(false);
            return;
        }
        m_outPos += int(n);
        m_lastProgress = now;
    }
    if (m_state == State::Writing)
        end(true);
}

void HttpConnection::end(bool sent)
{
    m_state = State::Finished;
    m_file.reset();
    m_out.clear();
    m_outPos = 0;
    const std::function<void()> action = std::move(sent ? m_sent : m_failed);
    m_sent = nullptr;
    m_failed = nullptr;
    if (action)
        action();
}

void HttpConnection::finish()
{
    if (m_state == State::Writing)
        end(false);
    else if (m_state == State::Reading)
        m_state = State::Finished;
}

int HttpConnection::handOver()
{
    m_state = State::Handed;
    m_file.reset();
    return m_socket;
}

short HttpConnection::pollEvents() const
{
    const bool pending = m_outPos < m_out.size() || (m_file && m_fileLeft > 0);
    switch (m_state) {
    case State::Reading:
        return short(POLLIN | (pending ? POLLOUT : 0));
    case State::Writing:
        return POLLOUT;
    default:
        return 0;
    }
}

HttpConnection::Clock::time_point HttpConnection::deadline() const
{
    switch (m_state) {
    case State::Reading:
        return (m_gotBytes ? m_firstByte : m_accepted) + std::chrono::milliseconds(kWaitMs);
    case State::Writing:
        return m_lastProgress + std::chrono::milliseconds(kWaitMs);
    default:
        return Clock::time_point::max();
    }
}
